#include "Platform/Utf8_posix.h"

namespace Marvane::Platform::Detail {

namespace {

constexpr unsigned ReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(unsigned unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(unsigned unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Reads one code point; false for a lone surrogate or a value beyond U+10FFFF.
bool NextCodePoint(const wchar_t*& source, unsigned& codePoint) {
    const unsigned unit = static_cast<unsigned>(*source++);
    if (IsHighSurrogate(unit)) {
        const unsigned low = static_cast<unsigned>(*source);
        if (!IsLowSurrogate(low)) return false;
        ++source;
        codePoint = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        return true;
    }
    codePoint = unit;
    return !IsLowSurrogate(unit) && unit <= 0x10FFFF;
}

std::size_t Encode(unsigned codePoint, char* out) {
    if (codePoint < 0x80) {
        out[0] = static_cast<char>(codePoint);
        return 1;
    }
    if (codePoint < 0x800) {
        out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
        out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 2;
    }
    if (codePoint < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
        out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 4;
}

} // namespace

bool WideToUtf8(const wchar_t* source, char* destination, std::size_t capacity) {
    if (capacity == 0) return false;
    destination[0] = '\0';
    if (source == nullptr) return false;
    std::size_t used = 0;
    while (*source != L'\0') {
        unsigned codePoint = 0;
        if (!NextCodePoint(source, codePoint)) {
            destination[0] = '\0';
            return false;
        }
        char bytes[4];
        const std::size_t count = Encode(codePoint, bytes);
        if (used + count + 1 > capacity) {
            destination[0] = '\0';
            return false;
        }
        for (std::size_t i = 0; i < count; ++i)
            destination[used++] = bytes[i];
    }
    destination[used] = '\0';
    return true;
}

std::size_t EncodeNextUtf8(const wchar_t*& source, char* out) {
    unsigned codePoint = 0;
    const wchar_t* start = source;
    if (!NextCodePoint(source, codePoint)) {
        source = start + 1;
        codePoint = ReplacementCharacter;
    }
    return Encode(codePoint, out);
}

} // namespace Marvane::Platform::Detail
