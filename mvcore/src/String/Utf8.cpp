#include "String/Utf8.h"

namespace Marvane::String::Detail {

namespace {

constexpr unsigned ReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(unsigned unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(unsigned unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Reads one code point of a wide string; false for a lone surrogate or a value beyond U+10FFFF, having
// read one unit.
bool NextWide(const wchar_t*& source, unsigned& codePoint) {
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

std::size_t EncodeUtf8(unsigned codePoint, char* out) {
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

// Reads one UTF-8 sequence; false for an invalid one, having read its lead byte and the continuation
// bytes that belonged to it (never the NUL).
bool NextUtf8(const unsigned char*& source, unsigned& codePoint) {
    const unsigned lead = *source++;
    if (lead < 0x80) {
        codePoint = lead;
        return true;
    }
    int extra = 0;
    unsigned smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        codePoint = lead & 0x1F;
        smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        codePoint = lead & 0x0F;
        smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        codePoint = lead & 0x07;
        smallest = 0x10000;
    } else {
        return false;
    }
    for (; extra > 0; --extra) {
        if ((*source & 0xC0) != 0x80) return false;
        codePoint = (codePoint << 6) | (*source++ & 0x3F);
    }
    return codePoint >= smallest && codePoint <= 0x10FFFF && !(codePoint >= 0xD800 && codePoint <= 0xDFFF);
}

// Units of one code point in a wide string.
std::size_t WideUnits(unsigned codePoint) {
    return sizeof(wchar_t) == 2 && codePoint > 0xFFFF ? 2 : 1;
}

void EncodeWide(unsigned codePoint, wchar_t* out) {
    if (WideUnits(codePoint) == 2) {
        codePoint -= 0x10000;
        out[0] = static_cast<wchar_t>(0xD800 + (codePoint >> 10));
        out[1] = static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
        return;
    }
    out[0] = static_cast<wchar_t>(codePoint);
}

} // namespace

bool WideToUtf8(const wchar_t* source, char* destination, std::size_t capacity, InvalidUnits invalid) {
    if (destination == nullptr || capacity == 0) return false;
    destination[0] = '\0';
    if (source == nullptr) return false;
    std::size_t used = 0;
    while (*source != L'\0') {
        unsigned codePoint = 0;
        if (!NextWide(source, codePoint)) {
            if (invalid == InvalidUnits::Fail) {
                destination[0] = '\0';
                return false;
            }
            codePoint = ReplacementCharacter;
        }
        char bytes[4];
        const std::size_t count = EncodeUtf8(codePoint, bytes);
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
    if (!NextWide(source, codePoint)) codePoint = ReplacementCharacter;
    return EncodeUtf8(codePoint, out);
}

bool Utf8ToWide(const char* source, wchar_t* destination, std::size_t capacity, InvalidUnits invalid) {
    if (destination == nullptr || capacity == 0) return false;
    destination[0] = L'\0';
    if (source == nullptr) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    std::size_t used = 0;
    while (*bytes != 0) {
        unsigned codePoint = 0;
        if (!NextUtf8(bytes, codePoint)) {
            if (invalid == InvalidUnits::Fail) {
                destination[0] = L'\0';
                return false;
            }
            codePoint = ReplacementCharacter;
        }
        if (used + WideUnits(codePoint) + 1 > capacity) {
            destination[0] = L'\0';
            return false;
        }
        EncodeWide(codePoint, destination + used);
        used += WideUnits(codePoint);
    }
    destination[used] = L'\0';
    return true;
}

} // namespace Marvane::String::Detail
