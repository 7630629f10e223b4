// Several threads counting and ranging on one monitor while a capture runs: the totals must come out
// exact and the log must stay a well-formed sequence of whole records.
#include "monitor_test_support.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <vector>

using namespace monitor_test;

namespace {

constexpr int Threads = 4;
constexpr int Rounds = 5000;

// Walks the records after the header; returns how many of each type, or an empty map if a record is
// malformed.
std::map<unsigned, std::size_t> CountRecords(const std::vector<unsigned char>& b,
                                             std::set<std::uint32_t>& rangeThreads) {
    std::map<unsigned, std::size_t> counts;
    std::size_t at = 26;
    auto skipString = [&](std::size_t& p) { p += 2 + 2 * static_cast<std::size_t>(U16(b, p)); };
    while (at < b.size()) {
        if (at + 4 > b.size()) return {};
        const unsigned type = U32(b, at) & 0xFF;
        std::size_t p = at + 4;
        switch (type) {
        case 1:
            p += 8;
            break;
        case 3:
        case 4:
            p += 16;
            break;
        case 5:
        case 6:
            rangeThreads.insert(U32(b, p));
            p += 12;
            break;
        case 7:
        case 9:
            skipString(p);
            break;
        case 8:
            skipString(p);
            p += 4;
            skipString(p);
            skipString(p);
            p += 16;
            break;
        case 10:
        case 11:
            break;
        case 12:
        case 13:
        case 14:
            p += 4;
            break;
        default:
            return {};
        }
        if (p > b.size()) return {};
        ++counts[type];
        at = p;
    }
    return counts;
}

TEST(MonitorStress, ThreadsCountAndRangeAtOnceWhileCapturing) {
    auto monitor = std::make_unique<TestMonitor>();
    const auto path = TempPath("stress");
    StatisticOptions options;
    options.unit = L"n";
    const StatisticId shared = monitor->RegisterStatistic(L"shared", StatisticType::Counter, options);
    const StatisticId ranged = monitor->RegisterStatistic(L"ranged", StatisticType::Counter, options);
    StatisticId own[Threads];
    for (int t = 0; t < Threads; ++t) {
        own[t] = monitor->RegisterStatistic((L"own" + std::to_wstring(t)).c_str(), StatisticType::Counter,
                                            options);
    }
    ASSERT_EQ(monitor->StartRecord(path.wstring().c_str()), Error::Ok);

    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([&, t] {
            monitor->RegisterCurrentThread((L"worker " + std::to_wstring(t)).c_str());
            for (int i = 0; i < Rounds; ++i) {
                monitor->PushRange(ranged);
                monitor->CounterAdd(shared, 1);
                monitor->CounterInc(own[t]);
                const std::uint64_t handle = monitor->BeginRange(own[t]);
                monitor->PopRange();
                monitor->EndRange(handle);
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        monitor->Tick();
        monitor->GetStatisticValue(shared, StatisticValueMethod::PerSecond);
    }
    for (std::thread& worker : workers)
        worker.join();
    ASSERT_EQ(monitor->StopRecord(), Error::Ok);

    EXPECT_EQ(monitor->GetStatisticValue(shared, StatisticValueMethod::Value), double(Threads * Rounds));
    for (int t = 0; t < Threads; ++t) {
        // One increment and one BeginRange per round.
        EXPECT_EQ(monitor->GetStatisticValue(own[t], StatisticValueMethod::Value), double(2 * Rounds));
    }
    EXPECT_GE(monitor->GetStatisticValue(ranged, StatisticValueMethod::Value), 0.0);

    const auto bytes = ReadAll(path);
    std::set<std::uint32_t> rangeThreads;
    auto counts = CountRecords(bytes, rangeThreads);
    ASSERT_FALSE(counts.empty());
    EXPECT_EQ(counts[12], std::size_t(Threads * Rounds));
    EXPECT_EQ(counts[10], std::size_t(Threads * Rounds));
    EXPECT_EQ(counts[5], std::size_t(Threads * Rounds));
    EXPECT_EQ(counts[6], std::size_t(Threads * Rounds));
    EXPECT_EQ(counts[3], std::size_t(Threads * Rounds));
    EXPECT_EQ(counts[4], std::size_t(Threads * Rounds));
    EXPECT_EQ(counts[7], std::size_t(Threads));
    EXPECT_EQ(counts[1], 200u);
    EXPECT_EQ(rangeThreads.size(), std::size_t(Threads));
    std::filesystem::remove(path);
}

TEST(MonitorStress, TheProcessMonitorTakesConcurrentRegistrations) {
    PerformanceMonitor* monitor = GetPerformanceMonitor();
    std::vector<std::thread> workers;
    std::vector<StatisticId> ids(Threads);
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([&, t] {
            StatisticOptions options;
            for (int i = 0; i < 100; ++i)
                ids[t] = monitor->RegisterStatistic(L"raced", StatisticType::Counter, options);
            for (int i = 0; i < 1000; ++i)
                monitor->CounterInc(ids[t]);
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    for (int t = 1; t < Threads; ++t)
        EXPECT_EQ(ids[t], ids[0]);
    EXPECT_EQ(monitor->GetStatisticValue(ids[0], StatisticValueMethod::Value), double(Threads * 1000));
}

} // namespace
