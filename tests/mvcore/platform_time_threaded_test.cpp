#include "Marvane/Platform/Message.h"
#include "Marvane/Platform/Time.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <thread>

using namespace Marvane;

TEST(PlatformTimeTest, TicksAdvanceAcrossASleep) {
    const i64 perSecond = Platform::GetTicksPerSecond();
    ASSERT_GT(perSecond, 0);
    const i64 before = Platform::GetTimeTicks();
    const i64 beforeMs = Platform::GetTimeMs();
    Platform::Sleep(30);
    const i64 after = Platform::GetTimeTicks();
    const i64 afterMs = Platform::GetTimeMs();
    EXPECT_GE(after, before);
    // The sleep lasts at least about as long as asked (timer granularity allowed for).
    EXPECT_GE((after - before) * 1000 / perSecond, 20);
    EXPECT_GE(afterMs - beforeMs, 15);
}

TEST(PlatformTimeTest, MillisecondsSinceStartFitThirtyTwoBits) {
    for (int i = 0; i < 5; ++i) {
        const i64 ms = Platform::GetTimeMs();
        EXPECT_GE(ms, 0);
        EXPECT_LE(ms, static_cast<i64>(0xFFFFFFFFu));
    }
}

TEST(PlatformTimeTest, ThreadIdsDifferBetweenThreads) {
    const u64 mine = Platform::GetThreadId();
    EXPECT_EQ(Platform::GetThreadId(), mine);
    EXPECT_NE(mine, 0u);
    u64 other = mine;
    std::thread([&] { other = Platform::GetThreadId(); }).join();
    EXPECT_NE(other, mine);
}

TEST(PlatformTimeTest, LocalDateMatchesTheRunTimeLibrary) {
    // Compared with the C library's local time, taken on both sides to step over a midnight.
    const std::time_t before = std::time(nullptr);
    u32 year = 0, month = 0, day = 0;
    EXPECT_EQ(Platform::GetLocalDate(year, month, day), Error::Ok);
    const std::time_t after = std::time(nullptr);
    auto matches = [&](std::time_t at) {
        const std::tm* local = std::localtime(&at);
        return static_cast<u32>(local->tm_year + 1900) == year &&
               static_cast<u32>(local->tm_mon + 1) == month && static_cast<u32>(local->tm_mday) == day;
    };
    EXPECT_TRUE(matches(before) || matches(after)) << year << "-" << month << "-" << day;
    EXPECT_GE(month, 1u);
    EXPECT_LE(month, 12u);
    EXPECT_GE(day, 1u);
    EXPECT_LE(day, 31u);
}

#if !defined(_WIN32)
// On Windows the message is a modal box that waits for a user; elsewhere it goes to standard error.
TEST(PlatformMessageTest, CaptionAndTextGoToStandardError) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(Platform::ShowMessage(L"Marvane \u00e9", L"disk \U0001F600 full"), Error::Ok);
    EXPECT_EQ(Platform::ShowMessage(nullptr, nullptr), Error::Ok);
    const std::wstring lone = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    EXPECT_EQ(Platform::ShowMessage(L"bad", lone.c_str()), Error::Ok);
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written, "Marvane \xC3\xA9: disk \xF0\x9F\x98\x80 full\n: \nbad: a\xEF\xBF\xBD"
                       "b\n");
}

TEST(PlatformMessageTest, LongTextIsWrittenWhole) {
    std::wstring text;
    for (int i = 0; i < 2000; ++i)
        text += static_cast<wchar_t>(L'a' + i % 26);
    text += L"\u4e2d";
    testing::internal::CaptureStderr();
    Platform::ShowMessage(L"c", text.c_str());
    const std::string written = testing::internal::GetCapturedStderr();
    std::string expected = "c: ";
    for (int i = 0; i < 2000; ++i)
        expected += static_cast<char>('a' + i % 26);
    expected += "\xE4\xB8\xAD\n";
    EXPECT_EQ(written, expected);
}
#endif
