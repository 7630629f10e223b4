// The library's one UTF-8 converter (used on POSIX systems for paths, environment variables and standard
// error): a path with a unit that is no Unicode scalar value fails, because substituting would name
// another file; a text substitutes U+FFFD and keeps the rest.
#include "String/Utf8.h"

#include <gtest/gtest.h>
#include <string>

using Marvane::String::Detail::EncodeNextUtf8;
using Marvane::String::Detail::InvalidUnits;
using Marvane::String::Detail::Utf8ToWide;
using Marvane::String::Detail::WideToUtf8;

namespace {

std::string Narrow(const std::wstring& text, InvalidUnits invalid, bool* ok = nullptr,
                   std::size_t room = 64) {
    std::string out(room, '#');
    const bool converted = WideToUtf8(text.c_str(), out.data(), room, invalid);
    if (ok != nullptr) *ok = converted;
    return out.substr(0, out.find('\0'));
}

std::wstring Wide(const std::string& text, InvalidUnits invalid, bool* ok = nullptr, std::size_t room = 64) {
    std::wstring out(room, L'#');
    const bool converted = Utf8ToWide(text.c_str(), out.data(), room, invalid);
    if (ok != nullptr) *ok = converted;
    return out.substr(0, out.find(L'\0'));
}

const wchar_t LoneHigh = static_cast<wchar_t>(0xD800);
const wchar_t LoneLow = static_cast<wchar_t>(0xDC00);

} // namespace

TEST(Utf8, ValidTextConvertsBothWays) {
    const std::wstring text =
        std::wstring(L"a\u00e9\u20ac") + static_cast<wchar_t>(0xD83D) + static_cast<wchar_t>(0xDE00);
    bool ok = false;
    EXPECT_EQ(Narrow(text, InvalidUnits::Fail, &ok), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_TRUE(ok);
    const std::wstring back = Wide("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", InvalidUnits::Fail, &ok);
    EXPECT_TRUE(ok);
    if constexpr (sizeof(wchar_t) == 2) {
        EXPECT_EQ(back, text);
    } else {
        EXPECT_EQ(back, std::wstring(L"a\u00e9\u20ac") + static_cast<wchar_t>(0x1F600));
        EXPECT_EQ(Narrow(back, InvalidUnits::Fail), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    }
}

TEST(Utf8, PathsWithInvalidUnitsFailTextsGetTheReplacementCharacter) {
    for (const std::wstring& bad : {std::wstring{L'a', LoneHigh, L'b'}, std::wstring{L'a', LoneLow, L'b'},
                                    std::wstring{L'a', LoneHigh}}) {
        bool ok = true;
        EXPECT_EQ(Narrow(bad, InvalidUnits::Fail, &ok), "");
        EXPECT_FALSE(ok);
        const std::string substituted = Narrow(bad, InvalidUnits::Substitute, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(substituted.substr(0, 4), "a\xEF\xBF\xBD");
    }
    if constexpr (sizeof(wchar_t) == 4) {
        bool ok = true;
        EXPECT_EQ(Narrow(std::wstring(1, static_cast<wchar_t>(0x110000)), InvalidUnits::Fail, &ok), "");
        EXPECT_FALSE(ok);
    }
    const wchar_t* cursor = L"\xDC00x";
    char bytes[4];
    EXPECT_EQ(EncodeNextUtf8(cursor, bytes), 3u);
    EXPECT_EQ(std::string(bytes, 3), "\xEF\xBF\xBD");
    EXPECT_EQ(*cursor, L'x');
}

TEST(Utf8, DamagedUtf8FailsOrIsSubstituted) {
    for (const char* bad :
         {"a\xC0\x80", "a\xED\xA0\x80", "a\xF4\x90\x80\x80", "a\xE2\x82", "a\x80", "a\xFF"}) {
        bool ok = true;
        EXPECT_EQ(Wide(bad, InvalidUnits::Fail, &ok), L"") << bad;
        EXPECT_FALSE(ok);
        const std::wstring substituted = Wide(bad, InvalidUnits::Substitute, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(substituted.substr(0, 2), std::wstring(L"a\uFFFD")) << bad;
    }
}

TEST(Utf8, OutputThatDoesNotFitFailsWithAnEmptyResult) {
    bool ok = true;
    EXPECT_EQ(Narrow(L"abc", InvalidUnits::Substitute, &ok, 3), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Narrow(L"abc", InvalidUnits::Substitute, &ok, 4), "abc");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Wide("abc", InvalidUnits::Fail, &ok, 3), L"");
    EXPECT_FALSE(ok);
    EXPECT_FALSE(WideToUtf8(nullptr, std::string(4, ' ').data(), 4, InvalidUnits::Substitute));
}
