#include "PerformanceMonitor/WideText.h"

namespace Marvane::Performance::Detail {

bool WideEquals(const wchar_t* a, const wchar_t* b) {
    while (*a != L'\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

void CopyTruncated(wchar_t* destination, std::size_t capacity, const wchar_t* source) {
    if (capacity == 0) return;
    std::size_t i = 0;
    for (; i + 1 < capacity && source[i] != L'\0'; ++i)
        destination[i] = source[i];
    destination[i] = L'\0';
}

unsigned EncodeUtf16(wchar_t c, std::uint16_t* out) {
    auto code = static_cast<std::uint32_t>(c);
    if constexpr (sizeof(wchar_t) == 2) {
        out[0] = static_cast<std::uint16_t>(code);
        return 1;
    }
    if (code <= 0xFFFF) {
        out[0] = static_cast<std::uint16_t>(code);
        return 1;
    }
    if (code > 0x10FFFF) {
        out[0] = 0xFFFD;
        return 1;
    }
    code -= 0x10000;
    out[0] = static_cast<std::uint16_t>(0xD800 + (code >> 10));
    out[1] = static_cast<std::uint16_t>(0xDC00 + (code & 0x3FF));
    return 2;
}

std::size_t WideToUtf8(const wchar_t* text, char* out, std::size_t capacity) {
    if (capacity == 0) return 0;
    std::size_t used = 0;
    auto put = [&](std::uint32_t byte) {
        if (used + 1 >= capacity) return false;
        out[used++] = static_cast<char>(byte);
        return true;
    };
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        std::uint32_t code = static_cast<std::uint32_t>(*p);
        if constexpr (sizeof(wchar_t) == 2) {
            if (code >= 0xD800 && code < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<std::uint32_t>(p[1]) - 0xDC00);
                ++p;
            }
        }
        if (code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) code = 0xFFFD;
        bool ok;
        if (code < 0x80) {
            ok = put(code);
        } else if (code < 0x800) {
            ok = put(0xC0 | (code >> 6)) && put(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            ok = put(0xE0 | (code >> 12)) && put(0x80 | ((code >> 6) & 0x3F)) && put(0x80 | (code & 0x3F));
        } else {
            ok = put(0xF0 | (code >> 18)) && put(0x80 | ((code >> 12) & 0x3F)) &&
                 put(0x80 | ((code >> 6) & 0x3F)) && put(0x80 | (code & 0x3F));
        }
        if (!ok) {
            out[0] = '\0';
            return 0;
        }
    }
    out[used] = '\0';
    return used;
}

void Utf8ToWide(const char* text, wchar_t* out, std::size_t capacity) {
    if (capacity == 0) return;
    std::size_t used = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0 && used + 1 < capacity) {
        std::uint32_t code = *p++;
        int extra = 0;
        if (code >= 0xF0 && code < 0xF8) {
            code &= 0x07;
            extra = 3;
        } else if (code >= 0xE0) {
            code &= 0x0F;
            extra = 2;
        } else if (code >= 0xC0) {
            code &= 0x1F;
            extra = 1;
        } else if (code >= 0x80) {
            code = 0xFFFD;
        }
        for (; extra > 0; --extra) {
            if ((*p & 0xC0) != 0x80) {
                code = 0xFFFD;
                break;
            }
            code = (code << 6) | (*p++ & 0x3F);
        }
        if (sizeof(wchar_t) == 2 && code > 0xFFFF) {
            if (used + 2 >= capacity) break;
            code -= 0x10000;
            out[used++] = static_cast<wchar_t>(0xD800 + (code >> 10));
            out[used++] = static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
            continue;
        }
        out[used++] = static_cast<wchar_t>(code);
    }
    out[used] = L'\0';
}

} // namespace Marvane::Performance::Detail
