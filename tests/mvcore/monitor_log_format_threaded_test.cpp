// Byte layout of the performance log and the behaviour of the double-buffered writer, read back from
// the files a private monitor writes.
#include "monitor_test_support.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace monitor_test;

namespace {

class MonitorLog : public ::testing::Test {
  protected:
    void SetUp() override {
        monitor = std::make_unique<TestMonitor>();
        monitor->UseFakeClock(10000000);
        path = TempPath("format");
    }
    void TearDown() override {
        monitor.reset();
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    // Starts a capture, runs `body`, stops and returns the bytes after header and snapshot.
    template <class Body> std::vector<unsigned char> Capture(Body body, std::size_t* snapshotEnd = nullptr) {
        EXPECT_EQ(monitor->StartLogging(path.wstring().c_str()), Error::Ok);
        EXPECT_TRUE(monitor->IsCapturing());
        monitor->Flush();
        EXPECT_EQ(monitor->StopLogging(), Error::Ok);
        const std::size_t start = ReadAll(path).size();
        EXPECT_EQ(monitor->StartLogging(path.wstring().c_str()), Error::Ok);
        body();
        EXPECT_EQ(monitor->StopLogging(), Error::Ok);
        EXPECT_FALSE(monitor->IsCapturing());
        if (snapshotEnd != nullptr) *snapshotEnd = start;
        const auto bytes = ReadAll(path);
        return {bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end()};
    }
    std::unique_ptr<TestMonitor> monitor;
    std::filesystem::path path;
};

StatisticOptions Options(StatisticGroupId group,
                         StatisticValueMethod::Enum method = StatisticValueMethod::Value) {
    StatisticOptions options;
    options.description = L"d";
    options.unit = L"MiB";
    options.scale = 0.25;
    options.defaultMethod = method;
    options.group = group;
    return options;
}

TEST_F(MonitorLog, HeaderThenSnapshotOfStatisticsGroupsThreadsAndAbsoluteValues) {
    const StatisticGroupId memory = monitor->RegisterGroup(L"Memory");
    const StatisticId a = monitor->RegisterStatistic(L"A", StatisticType::Counter, Options(memory));
    monitor->RegisterStatistic(L"B", static_cast<StatisticType::Enum>(5), Options(memory));
    monitor->RegisterStatistic(L"C", StatisticType::Counter, Options(memory, StatisticValueMethod::PerFrame));
    monitor->RegisterCurrentThread(L"main thread");
    monitor->RegisterCurrentThread(L"renamed"); // already known: ignored
    monitor->CounterSet(a, -3);
    fakeNow = 777;
    ASSERT_EQ(monitor->StartLogging(path.wstring().c_str()), Error::Ok);
    EXPECT_EQ(monitor->StopLogging(), Error::Ok);
    const auto b = ReadAll(path);

    ASSERT_GE(b.size(), 26u);
    EXPECT_EQ(U32(b, 0), 0x200u);
    EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 8), "MPLG");
    EXPECT_EQ(U64(b, 8), 10000000u);
    EXPECT_EQ(U16(b, 16), 4u);
    EXPECT_EQ(b[18], 'T');
    EXPECT_EQ(b[20], 'O');
    EXPECT_EQ(b[22], 'D');
    EXPECT_EQ(b[24], 'O');
    std::size_t at = 26;
    // Three statistics in identifier order, each a full StatisticCreate record.
    for (unsigned id = 0; id < 3; ++id) {
        ASSERT_LT(at + 4, b.size());
        EXPECT_EQ(U32(b, at), (id << 8) | 8u);
        at += 4;
        EXPECT_EQ(U16(b, at), 1u);
        EXPECT_EQ(b[at + 2], "ABC"[id]);
        at += 4;
        EXPECT_EQ(U32(b, at), id == 1 ? 5u : 2u);
        at += 4;
        EXPECT_EQ(U16(b, at), 1u); // "d"
        at += 4;
        EXPECT_EQ(U16(b, at), 3u); // "MiB"
        at += 8;
        double scale = 0;
        std::memcpy(&scale, &b[at], 8);
        EXPECT_EQ(scale, 0.25);
        at += 8;
        EXPECT_EQ(U32(b, at), id == 2 ? 2u : 1u);
        EXPECT_EQ(U32(b, at + 4), 1u);
        at += 8;
    }
    // Groups 0 and 1, then the thread.
    EXPECT_EQ(U32(b, at), 9u);
    EXPECT_EQ(U16(b, at + 4), 7u); // "General"
    at += 4 + 2 + 14;
    EXPECT_EQ(U32(b, at), (1u << 8) | 9u);
    EXPECT_EQ(U16(b, at + 4), 6u);
    at += 4 + 2 + 12;
    EXPECT_EQ(U32(b, at) & 0xFFu, 7u);
    EXPECT_EQ(U16(b, at + 4), 11u);
    at += 4 + 2 + 22;
    // Only A is a counter read as a value: one CounterSet with its absolute value.
    EXPECT_EQ(U32(b, at), 14u);
    EXPECT_EQ(static_cast<std::int32_t>(U32(b, at + 4)), -3);
    at += 8;
    EXPECT_EQ(at, b.size());
}

TEST_F(MonitorLog, RecordsHaveTheirExactBytes) {
    const StatisticGroupId memory = monitor->RegisterGroup(L"Memory");
    for (int i = 0; i < 3; ++i) {
        monitor->RegisterStatistic(std::to_wstring(i).c_str(), StatisticType::Counter, Options(memory));
    }
    const StatisticId three = monitor->RegisterStatistic(L"three", StatisticType::Counter, Options(memory));
    ASSERT_EQ(three, 3u);
    const auto bytes = Capture([&] {
        monitor->CounterAdd(three, 5);
        monitor->CounterSub(three, 2);
        monitor->CounterInc(three);
        monitor->CounterDec(three);
        monitor->CounterSet(three, -1);
        fakeNow = 0x0102030405;
        monitor->Tick();
    });
    const std::vector<unsigned char> expected = {
        0x0C, 0x03, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,                         // CounterAdd 5
        0x0D, 0x03, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,                         // CounterSub 2
        0x0A, 0x03, 0x00, 0x00,                                                 // CounterInc
        0x0B, 0x03, 0x00, 0x00,                                                 // CounterDec
        0x0E, 0x03, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,                         // CounterSet -1
        0x01, 0x00, 0x00, 0x00, 0x05, 0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x00, // Tick at the clock
    };
    EXPECT_EQ(bytes, expected);
}

TEST_F(MonitorLog, RangeRecordsCarryThreadHandleAndTimeSinceTheStart) {
    const StatisticId id = monitor->RegisterStatistic(L"r", StatisticType::Counter, Options(0));
    fakeNow = 1000;
    const auto bytes = Capture([&] {
        fakeNow = 1010;
        monitor->PushRange(id);
        fakeNow = 1020;
        monitor->PopRange();
        monitor->PopRange(); // nothing open: statistic 0
        fakeNow = 1030;
        const std::uint64_t handle = monitor->BeginRange(id);
        fakeNow = 1040;
        monitor->EndRange(handle);
    });
    ASSERT_EQ(bytes.size(), 16u * 3 + 20u * 2);
    EXPECT_EQ(U32(bytes, 0), (id << 8) | 5u);
    const std::uint32_t thread = U32(bytes, 4);
    EXPECT_NE(thread, 0u);
    EXPECT_EQ(U64(bytes, 8), 10u);
    EXPECT_EQ(U32(bytes, 16), (id << 8) | 6u);
    EXPECT_EQ(U32(bytes, 20), thread);
    EXPECT_EQ(U64(bytes, 24), 20u);
    EXPECT_EQ(U32(bytes, 32), 6u);
    EXPECT_EQ(U32(bytes, 48), (id << 8) | 3u);
    EXPECT_EQ(U64(bytes, 52), 1099511627776ull);
    EXPECT_EQ(U64(bytes, 60), 30u);
    EXPECT_EQ(U32(bytes, 68), 4u);
    EXPECT_EQ(U64(bytes, 72), 1099511627776ull);
    EXPECT_EQ(U64(bytes, 80), 40u);
}

// A client profiler may number its ranges from 0: every handle it gives reaches OnEndRange and the log.
// Only the handle of a BeginRange that was ignored (an invalid identifier) is ignored by EndRange.
class CountingFromZero : public IMonitor {
  public:
    std::uint64_t OnBeginRange(Statistic&) override { return next++; }
    void OnEndRange(std::uint64_t handle) override { ended.push_back(handle); }
    void OnPushRange(Statistic&) override {}
    void OnPopRange() override {}
    std::uint64_t next = 0;
    std::vector<std::uint64_t> ended;
};

TEST_F(MonitorLog, EndRangePassesEveryHandleOnButTheIgnoredOne) {
    const StatisticId id = monitor->RegisterStatistic(L"r", StatisticType::Counter, Options(0));
    CountingFromZero observer;
    monitor->RegisterMonitor(&observer);
    std::uint64_t ignored = 0;
    const auto bytes = Capture([&] {
        fakeNow = 5;
        const std::uint64_t first = monitor->BeginRange(id);
        const std::uint64_t second = monitor->BeginRange(id);
        EXPECT_EQ(first, 0u);
        EXPECT_EQ(second, 1u);
        fakeNow = 9;
        monitor->EndRange(first);
        monitor->EndRange(second);
        ignored = monitor->BeginRange(StatisticId(4000));
        monitor->EndRange(ignored);
    });
    monitor->RegisterMonitor(nullptr);
    EXPECT_EQ(ignored, ~0ull);
    EXPECT_EQ(observer.ended, (std::vector<std::uint64_t>{0, 1}));
    // Two BeginRange and two EndRange records, 20 bytes each; nothing for the ignored range.
    ASSERT_EQ(bytes.size(), 20u * 4);
    EXPECT_EQ(U32(bytes, 40), 4u);
    EXPECT_EQ(U64(bytes, 44), 0u);
    EXPECT_EQ(U64(bytes, 52), 9u);
    EXPECT_EQ(U32(bytes, 60), 4u);
    EXPECT_EQ(U64(bytes, 64), 1u);
}

TEST_F(MonitorLog, StringsAreCappedAtTheCountLimitAndNullIsEmpty) {
    const std::wstring longText(70000, L'a');
    const auto bytes = Capture([&] {
        monitor->Write(longText.c_str());
        monitor->Write(static_cast<const wchar_t*>(nullptr));
        monitor->WritePayload(L"hi");
        monitor->WritePayload(7);
        monitor->WritePayload(NoPayload());
        monitor->WriteCreateEvent(static_cast<MessageType::Enum>(2), 5, L"x");
    });
    ASSERT_EQ(bytes.size(), 2u + 65535u * 2 + 2 + (1 + 2 + 4) + (1 + 4) + 1 + (4 + 2 + 2));
    EXPECT_EQ(U16(bytes, 0), 65535u);
    EXPECT_EQ(U16(bytes, 2), 'a');
    EXPECT_EQ(U16(bytes, 2 + 65534 * 2), 'a');
    std::size_t at = 2 + 65535 * 2;
    EXPECT_EQ(U16(bytes, at), 0u);
    at += 2;
    EXPECT_EQ(bytes[at], 3u);
    EXPECT_EQ(U16(bytes, at + 1), 2u);
    at += 7;
    EXPECT_EQ(bytes[at], 2u);
    EXPECT_EQ(U32(bytes, at + 1), 7u);
    at += 5;
    EXPECT_EQ(bytes[at], 0u);
    at += 1;
    EXPECT_EQ(U32(bytes, at), (5u << 8) | 2u);
}

TEST_F(MonitorLog, CharactersOutsideTheBasicPlaneBecomeSurrogatePairs) {
    const wchar_t text[] = {L'A', static_cast<wchar_t>(0x1F600), 0};
    const auto bytes = Capture([&] { monitor->Write(text); });
    if constexpr (sizeof(wchar_t) == 4) {
        ASSERT_EQ(bytes.size(), 2u + 6u);
        EXPECT_EQ(U16(bytes, 0), 3u);
        EXPECT_EQ(U16(bytes, 4), 0xD83Du);
        EXPECT_EQ(U16(bytes, 6), 0xDE00u);
    } else {
        ASSERT_EQ(bytes.size(), 2u + 4u);
    }
}

TEST_F(MonitorLog, TheFirstDiskWriteIsOneFullBufferAndComesWithTheNextByte) {
    ASSERT_EQ(monitor->StartLogging(path.wstring().c_str()), Error::Ok);
    monitor->Flush();
    // Flushing an empty buffer hands nothing over and keeps the buffer under the disk write untouched.
    monitor->Flush();
    const std::uintmax_t snapshot = WaitForFileSize(path, 1);
    ASSERT_GT(snapshot, 0u);
    const std::vector<unsigned char> fill(PerformanceMonitor::LogBufferSize, 0x5A);
    monitor->Write(fill.data(), fill.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(std::filesystem::file_size(path), snapshot);
    const unsigned char one = 0xA5;
    monitor->Write(&one, 1);
    EXPECT_EQ(WaitForFileSize(path, snapshot + PerformanceMonitor::LogBufferSize),
              snapshot + PerformanceMonitor::LogBufferSize);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(std::filesystem::file_size(path), snapshot + PerformanceMonitor::LogBufferSize);
    EXPECT_EQ(monitor->StopLogging(), Error::Ok);
    const auto bytes = ReadAll(path);
    ASSERT_EQ(bytes.size(), snapshot + PerformanceMonitor::LogBufferSize + 1);
    EXPECT_EQ(bytes[snapshot], 0x5A);
    EXPECT_EQ(bytes.back(), 0xA5);
}

TEST_F(MonitorLog, FileLengthIsEveryAppendedByte) {
    std::size_t snapshot = 0;
    std::vector<unsigned char> pattern(100);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<unsigned char>(i * 7);
    auto bytes = Capture([&] { monitor->Write(pattern.data(), pattern.size()); }, &snapshot);
    EXPECT_EQ(bytes, pattern);
    // Many records that straddle buffer ends: the file is their exact concatenation.
    std::vector<unsigned char> expected;
    bytes = Capture([&] {
        for (unsigned i = 0; i < 20000; ++i) {
            const unsigned char record[3] = {static_cast<unsigned char>(i),
                                             static_cast<unsigned char>(i >> 8), 0x33};
            monitor->Write(record, sizeof(record));
            expected.insert(expected.end(), record, record + 3);
        }
    });
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(ReadAll(path).size(), snapshot + 60000u);
}

TEST_F(MonitorLog, NothingIsBufferedWhileNotCapturing) {
    const std::vector<unsigned char> before(50, 1);
    monitor->Write(before.data(), before.size());
    monitor->CounterAdd(0, 1);
    const auto bytes = Capture([] {});
    EXPECT_TRUE(bytes.empty());
}

TEST_F(MonitorLog, StartAndStopFailures) {
    EXPECT_EQ(monitor->StopLogging(), Error::InvalidState);
    const auto missing = program_scratch_dir() / "no-such-dir" / "x.mplg";
    EXPECT_EQ(monitor->StartLogging(missing.wstring().c_str()), Error::IO);
    EXPECT_FALSE(monitor->IsCapturing());

    ASSERT_EQ(monitor->StartRecord(path.wstring().c_str()), Error::Ok);
    const unsigned char marker[4] = {1, 2, 3, 4};
    monitor->Write(marker, sizeof(marker));
    const auto other = TempPath("second");
    // The running capture goes on and keeps what it buffered.
    EXPECT_EQ(monitor->StartLogging(other.wstring().c_str()), Error::InvalidState);
    EXPECT_TRUE(monitor->IsCapturing());
    EXPECT_EQ(monitor->StopRecord(), Error::Ok);
    const auto bytes = ReadAll(path);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::vector<unsigned char>(bytes.end() - 4, bytes.end()),
              std::vector<unsigned char>(marker, marker + 4));
    EXPECT_FALSE(std::filesystem::exists(other));
    EXPECT_EQ(monitor->StopRecord(), Error::InvalidState);
}

TEST_F(MonitorLog, ACaptureStillRunningIsWrittenOutWhenTheMonitorGoes) {
    ASSERT_EQ(monitor->StartLogging(path.wstring().c_str()), Error::Ok);
    const unsigned char marker[3] = {9, 8, 7};
    monitor->Write(marker, sizeof(marker));
    monitor.reset();
    const auto bytes = ReadAll(path);
    ASSERT_GE(bytes.size(), 26u + 3u);
    EXPECT_EQ(bytes.back(), 7u);
}

} // namespace
