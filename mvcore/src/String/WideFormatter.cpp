#include "String/WideFormatter.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cwchar>

namespace Marvane::String::Detail {

namespace {

// Collects output up to a fixed number of characters; everything past it is dropped.
class BoundedOutput {
  public:
    BoundedOutput(wchar_t* destination, std::size_t limit) : m_destination(destination), m_limit(limit) {}

    void Put(wchar_t c) {
        if (m_used < m_limit) m_destination[m_used++] = c;
    }
    void Repeat(wchar_t c, long long count) {
        for (; count > 0 && m_used < m_limit; --count)
            m_destination[m_used++] = c;
    }
    void PutNarrow(const char* text, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            Put(static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
    }
    void Terminate() { m_destination[m_used] = L'\0'; }

  private:
    wchar_t* m_destination;
    std::size_t m_limit;
    std::size_t m_used = 0;
};

enum class Size { Default, Char, Short, Long, LongLong, IntMax, SizeT, PtrDiff, Int32, LongDouble };

struct Conversion {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
    Size size = Size::Default;
    bool wideModifier = false; // 'l' or 'w' in front of s, S, c or C
    wchar_t kind = 0;
};

// Reads flags, width, precision and size of one conversion; `p` points past the '%'.
const wchar_t* ParseConversion(const wchar_t* p, Conversion& c, va_list* arguments) {
    for (;; ++p) {
        if (*p == L'-')
            c.left = true;
        else if (*p == L'+')
            c.plus = true;
        else if (*p == L' ')
            c.space = true;
        else if (*p == L'#')
            c.alternate = true;
        else if (*p == L'0')
            c.zero = true;
        else
            break;
    }
    if (*p == L'*') {
        int width = va_arg(*arguments, int);
        if (width < 0) {
            c.left = true;
            width = width == INT_MIN ? INT_MAX : -width;
        }
        c.width = width;
        ++p;
    } else {
        for (; *p >= L'0' && *p <= L'9'; ++p)
            c.width = c.width > 100000000 ? c.width : c.width * 10 + (*p - L'0');
    }
    if (*p == L'.') {
        ++p;
        c.precision = 0;
        if (*p == L'*') {
            const int precision = va_arg(*arguments, int);
            c.precision = precision < 0 ? -1 : precision;
            ++p;
        } else {
            for (; *p >= L'0' && *p <= L'9'; ++p)
                c.precision = c.precision > 100000000 ? c.precision : c.precision * 10 + (*p - L'0');
        }
    }
    switch (*p) {
    case L'h':
        ++p;
        c.size = *p == L'h' ? (++p, Size::Char) : Size::Short;
        break;
    case L'l':
        ++p;
        c.size = *p == L'l' ? (++p, Size::LongLong) : Size::Long;
        c.wideModifier = c.size == Size::Long;
        break;
    case L'w':
        ++p;
        c.size = Size::Long;
        c.wideModifier = true;
        break;
    case L'q':
    case L'L':
        ++p;
        c.size = p[-1] == L'L' ? Size::LongDouble : Size::LongLong;
        break;
    case L'j':
        ++p;
        c.size = Size::IntMax;
        break;
    case L'z':
        ++p;
        c.size = Size::SizeT;
        break;
    case L't':
        ++p;
        c.size = Size::PtrDiff;
        break;
    case L'I':
        ++p;
        if (p[0] == L'6' && p[1] == L'4') {
            p += 2;
            c.size = Size::LongLong;
        } else if (p[0] == L'3' && p[1] == L'2') {
            p += 2;
            c.size = Size::Int32;
        } else {
            c.size = Size::PtrDiff;
        }
        break;
    default:
        break;
    }
    c.kind = *p;
    return p;
}

long long FetchSigned(Size size, va_list* arguments) {
    switch (size) {
    case Size::Char:
        return static_cast<signed char>(va_arg(*arguments, int));
    case Size::Short:
        return static_cast<short>(va_arg(*arguments, int));
    case Size::Long:
        return va_arg(*arguments, long);
    case Size::LongLong:
    case Size::LongDouble:
        return va_arg(*arguments, long long);
    case Size::IntMax:
        return static_cast<long long>(va_arg(*arguments, std::intmax_t));
    case Size::SizeT:
    case Size::PtrDiff:
        return static_cast<long long>(va_arg(*arguments, std::ptrdiff_t));
    case Size::Int32:
        return va_arg(*arguments, std::int32_t);
    default:
        return va_arg(*arguments, int);
    }
}

unsigned long long FetchUnsigned(Size size, va_list* arguments) {
    switch (size) {
    case Size::Char:
        return static_cast<unsigned char>(va_arg(*arguments, unsigned int));
    case Size::Short:
        return static_cast<unsigned short>(va_arg(*arguments, unsigned int));
    case Size::Long:
        return va_arg(*arguments, unsigned long);
    case Size::LongLong:
    case Size::LongDouble:
        return va_arg(*arguments, unsigned long long);
    case Size::IntMax:
        return static_cast<unsigned long long>(va_arg(*arguments, std::uintmax_t));
    case Size::SizeT:
    case Size::PtrDiff:
        return static_cast<unsigned long long>(va_arg(*arguments, std::size_t));
    case Size::Int32:
        return va_arg(*arguments, std::uint32_t);
    default:
        return va_arg(*arguments, unsigned int);
    }
}

void PutPadded(BoundedOutput& out, const Conversion& c, long long length, const wchar_t* text) {
    if (!c.left) out.Repeat(L' ', c.width - length);
    for (long long i = 0; i < length; ++i)
        out.Put(text[i]);
    if (c.left) out.Repeat(L' ', c.width - length);
}

void PutInteger(BoundedOutput& out, const Conversion& c, unsigned long long magnitude, bool negative,
                bool isSigned) {
    unsigned base = 10;
    if (c.kind == L'o')
        base = 8;
    else if (c.kind == L'x' || c.kind == L'X' || c.kind == L'p')
        base = 16;
    const char* digitSet = (c.kind == L'X' || c.kind == L'p') ? "0123456789ABCDEF" : "0123456789abcdef";

    char digits[64];
    int count = 0;
    if (!(c.precision == 0 && magnitude == 0)) {
        char reversed[64];
        do {
            reversed[count++] = digitSet[magnitude % base];
            magnitude /= base;
        } while (magnitude != 0);
        for (int i = 0; i < count; ++i)
            digits[i] = reversed[count - 1 - i];
    }

    char prefix[2];
    int prefixLength = 0;
    if (isSigned && negative)
        prefix[prefixLength++] = '-';
    else if (isSigned && c.plus)
        prefix[prefixLength++] = '+';
    else if (isSigned && c.space)
        prefix[prefixLength++] = ' ';
    else if (c.alternate && base == 16 && c.kind != L'p' && count > 0 && !(count == 1 && digits[0] == '0')) {
        prefix[prefixLength++] = '0';
        prefix[prefixLength++] = static_cast<char>(c.kind);
    }

    long long zeros = c.precision > count ? c.precision - count : 0;
    if (c.alternate && base == 8 && zeros == 0 && (count == 0 || digits[0] != '0')) zeros = 1;
    const long long length = prefixLength + zeros + count;
    if (c.zero && !c.left && c.precision < 0 && c.width > length) zeros += c.width - length;
    const long long padded = prefixLength + zeros + count;

    if (!c.left) out.Repeat(L' ', c.width - padded);
    out.PutNarrow(prefix, static_cast<std::size_t>(prefixLength));
    out.Repeat(L'0', zeros);
    out.PutNarrow(digits, static_cast<std::size_t>(count));
    if (c.left) out.Repeat(L' ', c.width - padded);
}

// Floating point goes through the C library's narrow formatter (digits are ASCII whatever the locale's
// wide encoding); width and padding are applied here so that only the bare number has to fit the buffer.
void PutFloating(BoundedOutput& out, const Conversion& c, va_list* arguments) {
    const bool isLong = c.size == Size::LongDouble;
    long double value = isLong ? va_arg(*arguments, long double) : va_arg(*arguments, double);

    char narrowFormat[16];
    int s = 0;
    narrowFormat[s++] = '%';
    if (c.plus) narrowFormat[s++] = '+';
    if (c.space) narrowFormat[s++] = ' ';
    if (c.alternate) narrowFormat[s++] = '#';
    // Without a precision the C library's default applies (6 digits, or all of them for %a).
    const bool hasPrecision = c.precision >= 0;
    if (hasPrecision) {
        narrowFormat[s++] = '.';
        narrowFormat[s++] = '*';
    }
    if (isLong) narrowFormat[s++] = 'L';
    narrowFormat[s++] = static_cast<char>(c.kind);
    narrowFormat[s] = '\0';

    // Enough for every double in %f with up to 700 digits after the point; longer texts are cut.
    char text[1100];
    const int precision = c.precision > 700 ? 700 : c.precision;
    int length;
    if (hasPrecision)
        length = isLong
                     ? std::snprintf(text, sizeof text, narrowFormat, precision, value)
                     : std::snprintf(text, sizeof text, narrowFormat, precision, static_cast<double>(value));
    else
        length = isLong ? std::snprintf(text, sizeof text, narrowFormat, value)
                        : std::snprintf(text, sizeof text, narrowFormat, static_cast<double>(value));
    if (length < 0) length = 0;
    if (length >= static_cast<int>(sizeof text)) length = sizeof text - 1;

    int prefixLength = 0;
    if (length > 0 && (text[0] == '-' || text[0] == '+' || text[0] == ' ')) prefixLength = 1;
    if ((c.kind == L'a' || c.kind == L'A') && length >= prefixLength + 2 && text[prefixLength] == '0')
        prefixLength += 2;

    long long zeros = 0;
    if (c.zero && !c.left && std::isfinite(value) && c.width > length) zeros = c.width - length;
    const long long padded = length + zeros;
    if (!c.left) out.Repeat(L' ', c.width - padded);
    out.PutNarrow(text, static_cast<std::size_t>(prefixLength));
    out.Repeat(L'0', zeros);
    out.PutNarrow(text + prefixLength, static_cast<std::size_t>(length - prefixLength));
    if (c.left) out.Repeat(L' ', c.width - padded);
}

void PutWideString(BoundedOutput& out, const Conversion& c, const wchar_t* text) {
    if (text == nullptr) text = L"(null)";
    long long length = 0;
    while (text[length] != L'\0' && (c.precision < 0 || length < c.precision))
        ++length;
    PutPadded(out, c, length, text);
}

// Narrow text is widened character by character with the current locale; a byte the locale cannot
// decode stands for itself.
void PutNarrowString(BoundedOutput& out, const Conversion& c, const char* text) {
    if (text == nullptr) text = "(null)";
    const auto widen = [&](auto&& emit) {
        std::mbstate_t state{};
        long long produced = 0;
        for (const char* p = text; *p != '\0' && (c.precision < 0 || produced < c.precision); ++produced) {
            wchar_t unit;
            std::size_t used = std::mbrtowc(&unit, p, 8, &state);
            if (used == 0 || used > 8) {
                unit = static_cast<wchar_t>(static_cast<unsigned char>(*p));
                used = 1;
                state = std::mbstate_t{};
            }
            emit(unit);
            p += used;
        }
        return produced;
    };
    const long long length = widen([](wchar_t) {});
    if (!c.left) out.Repeat(L' ', c.width - length);
    widen([&](wchar_t unit) { out.Put(unit); });
    if (c.left) out.Repeat(L' ', c.width - length);
}

void PutCharacter(BoundedOutput& out, const Conversion& c, wchar_t unit) {
    const wchar_t text[1] = {unit};
    PutPadded(out, c, 1, text);
}

// Narrow forms: 'h' in front, or the capital letter without 'l'/'w'.
bool IsNarrow(const Conversion& c, wchar_t capital) {
    return c.size == Size::Short || (c.kind == capital && !c.wideModifier);
}

} // namespace

void FormatWide(wchar_t* destination, std::size_t limit, const wchar_t* format, va_list list) {
    BoundedOutput out(destination, limit);
    va_list arguments;
    va_copy(arguments, list);

    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        if (*p != L'%') {
            out.Put(*p);
            continue;
        }
        const wchar_t* start = p;
        Conversion c;
        p = ParseConversion(p + 1, c, &arguments);
        switch (c.kind) {
        case L'%':
            out.Put(L'%');
            break;
        case L'd':
        case L'i': {
            const long long value = FetchSigned(c.size, &arguments);
            const unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                                           : static_cast<unsigned long long>(value);
            PutInteger(out, c, magnitude, value < 0, true);
            break;
        }
        case L'u':
        case L'o':
        case L'x':
        case L'X':
            PutInteger(out, c, FetchUnsigned(c.size, &arguments), false, false);
            break;
        case L'p': {
            // Pointers print as all their hex digits, as the Windows run-time library prints them.
            Conversion pointer = c;
            pointer.precision = static_cast<int>(2 * sizeof(void*));
            pointer.alternate = false;
            PutInteger(out, pointer, reinterpret_cast<std::uintptr_t>(va_arg(arguments, void*)), false,
                       false);
            break;
        }
        case L'f':
        case L'F':
        case L'e':
        case L'E':
        case L'g':
        case L'G':
        case L'a':
        case L'A':
            PutFloating(out, c, &arguments);
            break;
        case L's':
        case L'S':
            if (IsNarrow(c, L'S'))
                PutNarrowString(out, c, va_arg(arguments, const char*));
            else
                PutWideString(out, c, va_arg(arguments, const wchar_t*));
            break;
        case L'c':
        case L'C': {
            const int value = va_arg(arguments, int);
            wchar_t unit = static_cast<wchar_t>(value);
            if (IsNarrow(c, L'C')) {
                const char narrow = static_cast<char>(value);
                std::mbstate_t state{};
                if (std::mbrtowc(&unit, &narrow, 1, &state) > 1)
                    unit = static_cast<wchar_t>(static_cast<unsigned char>(narrow));
            }
            PutCharacter(out, c, unit);
            break;
        }
        case L'n':
            // Writing through a caller's pointer from a format string is not offered.
            (void)va_arg(arguments, void*);
            break;
        default:
            // An unknown conversion is copied as it stands; no argument is taken.
            for (const wchar_t* q = start; q <= p && *q != L'\0'; ++q)
                out.Put(*q);
            if (*p == L'\0') --p;
            break;
        }
    }
    va_end(arguments);
    out.Terminate();
}

} // namespace Marvane::String::Detail
