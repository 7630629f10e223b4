#include "Marvane/String.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace S = Marvane::String;

namespace {

template <class... A> std::wstring Format(const wchar_t* format, A... arguments) {
    wchar_t buffer[256];
    S::FormatStringTrunc(buffer, 256, format, arguments...);
    return buffer;
}

// The platform's own wide printf, for conversions whose meaning is the same everywhere.
template <class... A> std::wstring Peer(const wchar_t* format, A... arguments) {
    wchar_t buffer[256];
    std::swprintf(buffer, 256, format, arguments...);
    return buffer;
}

std::wstring FormatThroughList(wchar_t* buffer, int capacity, const wchar_t* format, ...) {
    va_list list;
    va_start(list, format);
    S::FormatStringTruncVA(buffer, capacity, format, list);
    va_end(list);
    return buffer;
}

int Sign(int v) {
    return (v > 0) - (v < 0);
}

} // namespace

TEST(CopyStringTruncate, CopiesWhatFitsAndTerminates) {
    wchar_t buffer[16];
    std::wmemset(buffer, L'X', 16);
    EXPECT_EQ(S::CopyStringTruncate(buffer, 4, L"0123456789"), 3u);
    EXPECT_EQ(std::wstring(buffer), L"012");
    EXPECT_EQ(buffer[4], L'X');

    EXPECT_EQ(S::CopyStringTruncate(buffer, 11, L"0123456789"), 10u);
    EXPECT_EQ(std::wstring(buffer), L"0123456789");
    EXPECT_EQ(S::CopyStringTruncate(buffer, 16, L"short"), 5u);
    EXPECT_EQ(std::wstring(buffer), L"short");
    EXPECT_EQ(S::CopyStringTruncate(buffer, 1, L"abc"), 0u);
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_EQ(S::CopyStringTruncate(buffer, 16, nullptr), 0u);
    EXPECT_EQ(buffer[0], L'\0');

    std::wmemset(buffer, L'X', 16);
    EXPECT_EQ(S::CopyStringTruncate(buffer, 0, L"abc"), 0u); // no room even for the NUL
    EXPECT_EQ(buffer[0], L'X');
}

TEST(FormatStringTrunc, PercentSTakesAWideStringOnEveryPlatform) {
    EXPECT_EQ(Format(L"%s and %ls", L"wide", L"also wide"), L"wide and also wide");
    EXPECT_EQ(Format(L"%ws|%lS", L"w", L"lS"), L"w|lS");
    EXPECT_EQ(Format(L"%hs|%S|%hS", "narrow", "N", "hS"), L"narrow|N|hS");
    EXPECT_EQ(Format(L"%c%lc%wc%hc%C", L'v', L'w', L'x', 'y', 'z'), L"vwxyz");
    EXPECT_EQ(Format(L"[%5s|%-5s|%.2s|%-4.1hs]", L"ab", L"ab", L"abcdef", "xyz"), L"[   ab|ab   |ab|x   ]");
    EXPECT_EQ(Format(L"%3c|%-3c|", L'a', L'b'), L"  a|b  |");
    EXPECT_EQ(Format(L"%s|%hs", static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr)),
              L"(null)|(null)");
    EXPECT_EQ(Format(L"%s", L"\u00e9\u4e2d\u00fc"), L"\u00e9\u4e2d\u00fc");
}

TEST(FormatStringTrunc, NumbersMatchThePlatformPrintf) {
    for (int v : {0, 1, -1, 42, -42, 7, INT_MAX, INT_MIN}) {
        for (const wchar_t* f :
             {L"%d", L"%+d", L"% d", L"%5d|", L"%-5d|", L"%05d", L"%.3d", L"%.0d", L"%+.3d", L"%i", L"%-+6i|",
              L"%x", L"%#x", L"%#X", L"%o", L"%#o", L"%u", L"%08.3x", L"%#08x"})
            EXPECT_EQ(Format(f, v), Peer(f, v)) << f << " " << v;
        EXPECT_EQ(Format(L"%*d|%-*d|%.*d", 6, v, 6, v, 4, v), Peer(L"%*d|%-*d|%.*d", 6, v, 6, v, 4, v));
        EXPECT_EQ(Format(L"%*d|", -6, v), Peer(L"%*d|", -6, v));
    }
    EXPECT_EQ(Format(L"%hhd %hhu %hd %hu", 300, 300, 70000, 70000),
              Peer(L"%hhd %hhu %hd %hu", 300, 300, 70000, 70000));
    EXPECT_EQ(Format(L"%lld %llu %llx", LLONG_MIN, ULLONG_MAX, 0x123456789ABCDEFull),
              Peer(L"%lld %llu %llx", LLONG_MIN, ULLONG_MAX, 0x123456789ABCDEFull));
    EXPECT_EQ(Format(L"%ld %lu", LONG_MIN, ULONG_MAX), Peer(L"%ld %lu", LONG_MIN, ULONG_MAX));
    EXPECT_EQ(Format(L"%zu %td %jd", SIZE_MAX, PTRDIFF_MIN, INTMAX_MIN),
              Peer(L"%zu %td %jd", SIZE_MAX, PTRDIFF_MIN, INTMAX_MIN));
    EXPECT_EQ(Format(L"%I64d %I32u %Iu", -5ll, 7u, SIZE_MAX), Peer(L"%lld %u %zu", -5ll, 7u, SIZE_MAX));

    for (double v : {0.0, -0.0, 1.5, -2.25, 3.14159265358979, 1e-7, 123456789.125, 1e300, -1e-300})
        for (const wchar_t* f : {L"%f", L"%.3e", L"%E", L"%g", L"%G", L"%10.4f|", L"%-10.2f|", L"%+08.2f",
                                 L"% .1f", L"%#.0f", L"%#g", L"%012.3e", L"%.0e", L"%a", L"%015A"})
            EXPECT_EQ(Format(f, v), Peer(f, v)) << f << " " << v;
    const double infinity = HUGE_VAL;
    for (const wchar_t* f : {L"%f", L"%010f", L"%-8e|", L"%+g"}) {
        EXPECT_EQ(Format(f, infinity), Peer(f, infinity)) << f;
        EXPECT_EQ(Format(f, -infinity), Peer(f, -infinity)) << f;
    }
    EXPECT_EQ(Format(L"%.*f|%*.*f", 2, 1.005, 9, 3, 2.5), Peer(L"%.*f|%*.*f", 2, 1.005, 9, 3, 2.5));
    EXPECT_EQ(Format(L"%Lf %.2Le", 1.25L, -3.5L), Peer(L"%Lf %.2Le", 1.25L, -3.5L));
}

TEST(FormatStringTrunc, OtherConversions) {
    EXPECT_EQ(Format(L"100%% sure"), L"100% sure");
    // The alternate octal form always shows a leading zero, even for 0 with no digits asked for (some
    // run-time libraries print nothing here).
    EXPECT_EQ(Format(L"%#.0o|%#o|%.0o|", 0, 8, 0), L"0|010||");
    EXPECT_EQ(Format(L"%y and %"), L"%y and %");
    int untouched = 17;
    EXPECT_EQ(Format(L"a%nb%d", &untouched, 5), L"ab5");
    EXPECT_EQ(untouched, 17);
    const std::wstring pointer = Format(L"%p", reinterpret_cast<void*>(std::uintptr_t{0x1234abcd}));
    EXPECT_EQ(pointer, std::wstring(2 * sizeof(void*) - 8, L'0') + L"1234ABCD");
    EXPECT_EQ(Format(L"mixed %d %s %.1f %hs %c", 3, L"w", 0.25, "n", L'!'), L"mixed 3 w 0.2 n !");
}

TEST(FormatStringTrunc, TruncatesAndAlwaysTerminates) {
    wchar_t buffer[16];
    std::wmemset(buffer, L'X', 16);
    EXPECT_EQ(FormatThroughList(buffer, 5, L"hello %s", L"world"), L"hell");
    EXPECT_EQ(buffer[4], L'\0');
    EXPECT_EQ(buffer[5], L'X');

    std::wmemset(buffer, L'X', 16);
    EXPECT_EQ(FormatThroughList(buffer, 10, L"%d", 12), L"12");
    EXPECT_EQ(buffer[9], L'\0'); // the last element is set even when the text is shorter
    EXPECT_EQ(buffer[10], L'X');

    std::wmemset(buffer, L'X', 16);
    EXPECT_EQ(FormatThroughList(buffer, 6, L"%5d", 12345), L"12345"); // exact fit
    EXPECT_EQ(FormatThroughList(buffer, 6, L"%50d", 1), L"     ");    // padding is cut too
    EXPECT_EQ(FormatThroughList(buffer, 1, L"abc"), L"");

    std::wmemset(buffer, L'X', 16);
    S::FormatStringTrunc(buffer, 0, L"abc");
    S::FormatStringTrunc(buffer, -3, L"abc");
    EXPECT_EQ(buffer[0], L'X');
}

TEST(FormatStringTrunc, LongFormatsNeedNoFixedBuffer) {
    std::wstring format(5000, L'.');
    format += L"%s";
    std::vector<wchar_t> buffer(6000);
    S::FormatStringTrunc(buffer.data(), 6000, format.c_str(), L"end");
    EXPECT_EQ(std::wstring(buffer.data()), std::wstring(5000, L'.') + L"end");
}

TEST(StringCompare, NarrowFormIsABoundedUnsignedComparison) {
    struct Case {
        const char* a;
        const char* b;
        std::uint64_t count;
    };
    const Case cases[] = {{"abc", "abc", 10},    {"abc", "abd", 10}, {"abd", "abc", 10}, {"abc", "abd", 2},
                          {"ab", "abc", 10},     {"abc", "ab", 3},   {"", "", 5},        {"\x80", "\x7f", 1},
                          {"a\xff", "a\x01", 5}, {"abc", "xyz", 0}};
    for (const Case& c : cases)
        EXPECT_EQ(Sign(S::StringCompare(c.a, c.b, c.count)), Sign(std::strncmp(c.a, c.b, c.count)))
            << c.a << " / " << c.b << " / " << c.count;
}

TEST(StringCompare, WideFormComparesUnitsAsUnsignedValues) {
    const wchar_t high[] = {L'a', static_cast<wchar_t>(0xE000), 0};
    const wchar_t low[] = {L'a', static_cast<wchar_t>(0x0041), 0};
    EXPECT_EQ(S::StringCompare(high, low), 1);
    EXPECT_EQ(S::StringCompare(low, high), -1);
    EXPECT_EQ(S::StringCompare(L"same", L"same"), 0);
    EXPECT_EQ(S::StringCompare(L"pre", L"prefix"), -1);
    EXPECT_EQ(S::StringCompare(L"prefix", L"pre"), 1);
    EXPECT_EQ(S::StringCompare(L"", L""), 0);
    const wchar_t top[] = {static_cast<wchar_t>(0xFFFF), 0};
    EXPECT_EQ(S::StringCompare(top, L"z"), 1);
}

TEST(UTF16ToUTF32, ConvertsPairsAndAlwaysTerminates) {
    const unsigned short text[] = {0x0041, 0xD83D, 0xDE00};
    unsigned int out[8];
    std::fill(std::begin(out), std::end(out), 0xEEEEEEEEu);
    EXPECT_TRUE(S::UTF16ToUTF32(text, 3, 4, out));
    EXPECT_EQ(out[0], 0x41u);
    EXPECT_EQ(out[1], 0x1F600u);
    EXPECT_EQ(out[2], 0u);
    EXPECT_EQ(out[3], 0xEEEEEEEEu);

    std::fill(std::begin(out), std::end(out), 0xEEEEEEEEu);
    EXPECT_TRUE(S::UTF16ToUTF32(text, 3, 2, out)); // the last code point gives way to the terminator
    EXPECT_EQ(out[0], 0x41u);
    EXPECT_EQ(out[1], 0u);
    EXPECT_EQ(out[2], 0xEEEEEEEEu);

    const unsigned short extremes[] = {0xD800, 0xDC00, 0xDBFF, 0xDFFF, 0xFFFF, 0xE000, 0xD7FF};
    EXPECT_TRUE(S::UTF16ToUTF32(extremes, 7, 8, out));
    const unsigned int expected[] = {0x10000, 0x10FFFF, 0xFFFF, 0xE000, 0xD7FF, 0};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(out[i], expected[i]) << i;
}

TEST(UTF16ToUTF32, UnpairedSurrogatesFail) {
    unsigned int out[8];
    const unsigned short lowAlone[] = {0xDC00};
    EXPECT_FALSE(S::UTF16ToUTF32(lowAlone, 1, 8, out));
    const unsigned short highAtEnd[] = {0x41, 0xD83D, 0xDE00};
    EXPECT_FALSE(S::UTF16ToUTF32(highAtEnd, 2, 8, out)); // the low half lies beyond sourceCount
    const unsigned short highThenLetter[] = {0xD83D, 0x41};
    EXPECT_FALSE(S::UTF16ToUTF32(highThenLetter, 2, 8, out));
    const unsigned short twoHighs[] = {0xD83D, 0xD83D, 0xDE00};
    EXPECT_FALSE(S::UTF16ToUTF32(twoHighs, 3, 8, out));
}

TEST(UTF16ToUTF32, NoRoomWritesNothing) {
    const unsigned short text[] = {0x41};
    unsigned int out[2] = {7, 7};
    EXPECT_TRUE(S::UTF16ToUTF32(text, 1, 0, out + 1));
    EXPECT_EQ(out[0], 7u);
    EXPECT_EQ(out[1], 7u);
    EXPECT_TRUE(S::UTF16ToUTF32(text, 0, 1, out));
    EXPECT_EQ(out[0], 0u);
}

TEST(UnitConversion, WidensAndNarrowsWithoutTerminator) {
    alignas(8) std::uint16_t narrow[6] = {0x0041, 0xFFFF, 0x8000, 0xD83D, 0x0000, 0x1234};
    alignas(8) std::uint32_t wide[8];
    std::fill(std::begin(wide), std::end(wide), 0xEEEEEEEEu);
    S::Convert2ByteWideTo4ByteWide(reinterpret_cast<const wchar_t*>(narrow), 6, 5,
                                   reinterpret_cast<wchar_t*>(wide));
    const std::uint32_t widened[] = {0x41, 0xFFFF, 0x8000, 0xD83D, 0}; // zero-extended, never sign-extended
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(wide[i], widened[i]) << i;
    EXPECT_EQ(wide[5], 0xEEEEEEEEu);

    wide[5] = 0x1F600;
    alignas(8) std::uint16_t back[8];
    std::fill(std::begin(back), std::end(back), 0xEEEE);
    S::Convert4ByteWideTo2ByteWide(reinterpret_cast<const wchar_t*>(wide), 6, 7,
                                   reinterpret_cast<wchar_t*>(back));
    const std::uint16_t narrowed[] = {0x41, 0xFFFF, 0x8000, 0xD83D, 0, 0xF600}; // low 16 bits kept
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(back[i], narrowed[i]) << i;
    EXPECT_EQ(back[6], 0xEEEE);
}

TEST(UnitConversion, WorksInPlace) {
    alignas(8) unsigned char buffer[4 * 5];
    const std::uint16_t units[] = {1, 0xBEEF, 3, 0xFFFE, 5};
    std::memcpy(buffer, units, sizeof units);
    S::Convert2ByteWideTo4ByteWide(reinterpret_cast<const wchar_t*>(buffer), 5, 5,
                                   reinterpret_cast<wchar_t*>(buffer));
    for (int i = 0; i < 5; ++i) {
        std::uint32_t v;
        std::memcpy(&v, buffer + 4 * i, 4);
        EXPECT_EQ(v, units[i]) << i;
    }
    S::Convert4ByteWideTo2ByteWide(reinterpret_cast<const wchar_t*>(buffer), 5, 5,
                                   reinterpret_cast<wchar_t*>(buffer));
    EXPECT_EQ(std::memcmp(buffer, units, sizeof units), 0);
}

TEST(WideCharToMultiByteTruncate, ConvertsTruncatesAndReportsFailures) {
    std::setlocale(LC_ALL, "C");
    char buffer[16];
    std::uint64_t length = 99;
    EXPECT_TRUE(S::WideCharToMultiByteTruncate(buffer, 16, length, L"plain text"));
    EXPECT_STREQ(buffer, "plain text");
    EXPECT_EQ(length, 10u);

    EXPECT_TRUE(S::WideCharToMultiByteTruncate(buffer, 5, length, L"plain text"));
    EXPECT_STREQ(buffer, "plai");
    EXPECT_EQ(length, 4u);
    EXPECT_TRUE(S::WideCharToMultiByteTruncate(buffer, 1, length, L"abc"));
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(length, 0u);

    length = 99;
    EXPECT_FALSE(S::WideCharToMultiByteTruncate(buffer, 16, length, L"a\u4e2db")); // not in the C locale
    EXPECT_EQ(length, 99u);
    EXPECT_FALSE(S::WideCharToMultiByteTruncate(buffer, 0, length, L"abc"));
    EXPECT_EQ(length, 99u);
}

TEST(WideCharToMultiByteTruncate, NeverSplitsAMultiByteCharacter) {
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr && std::setlocale(LC_ALL, ".UTF8") == nullptr)
        GTEST_SKIP() << "no UTF-8 locale here";
    char buffer[16];
    std::uint64_t length = 0;
    const bool converted = S::WideCharToMultiByteTruncate(buffer, 16, length, L"a\u00e9\u4e2d");
    std::setlocale(LC_ALL, "C");
    ASSERT_TRUE(converted);
    EXPECT_EQ(length, 6u);
    EXPECT_STREQ(buffer, "a\xc3\xa9\xe4\xb8\xad");

    std::setlocale(LC_ALL, "C.UTF-8") || std::setlocale(LC_ALL, ".UTF8");
    const bool cut = S::WideCharToMultiByteTruncate(buffer, 5, length, L"a\u00e9\u4e2d");
    std::setlocale(LC_ALL, "C");
    ASSERT_TRUE(cut);
    EXPECT_EQ(length, 3u); // the three-byte character does not fit in the remaining one byte
    EXPECT_STREQ(buffer, "a\xc3\xa9");
}
