// Registration, counters, frames and queries of the performance monitor, on private monitors with a
// clock driven by the test.
#include "monitor_test_support.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

using namespace monitor_test;

namespace {

StatisticOptions Options(StatisticGroupId group, const wchar_t* unit = L"MB", double scale = 1.0,
                         StatisticValueMethod::Enum method = StatisticValueMethod::Value) {
    StatisticOptions options;
    options.description = L"test statistic";
    options.unit = unit;
    options.scale = scale;
    options.defaultMethod = method;
    options.group = group;
    return options;
}

class MonitorCounters : public ::testing::Test {
  protected:
    void SetUp() override {
        monitor = std::make_unique<TestMonitor>();
        monitor->UseFakeClock(10000000);
        group = monitor->RegisterGroup(L"Memory");
        total = monitor->RegisterStatistic(L"Total", StatisticType::Counter, Options(group));
    }
    std::unique_ptr<TestMonitor> monitor;
    StatisticGroupId group;
    StatisticId total;
};

TEST_F(MonitorCounters, RegistrationFindsExistingEntriesByNameAndGroup) {
    EXPECT_EQ(monitor->RegisterGroup(L"General"), 0u);
    EXPECT_EQ(group, 1u);
    EXPECT_EQ(monitor->RegisterGroup(L"Memory"), 1u);
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(monitor->RegisterStatistic(L"Total", StatisticType::Counter, Options(group)), 0u);
    const StatisticGroupId other = monitor->RegisterGroup(L"Other");
    EXPECT_EQ(monitor->RegisterStatistic(L"Total", StatisticType::Counter, Options(other)), 1u);
    EXPECT_EQ(monitor->GetNumStatistics(), 2u);

    unsigned int id = 99;
    ASSERT_TRUE(monitor->FindStatistic(L"Memory", L"Total", id));
    EXPECT_EQ(id, 0u);
    ASSERT_TRUE(monitor->FindStatistic(L"Other", L"Total", id));
    EXPECT_EQ(id, 1u);
    ASSERT_TRUE(monitor->FindStatistic(L"Total", id));
    EXPECT_EQ(id, 0u);
    EXPECT_FALSE(monitor->FindStatistic(L"General", L"Total", id));
    EXPECT_FALSE(monitor->FindStatistic(L"Missing", id));
    EXPECT_FALSE(monitor->FindStatistic(nullptr, id));
    EXPECT_FALSE(monitor->FindStatistic(nullptr, L"Total", id));
    EXPECT_FALSE(monitor->FindStatistic(L"Memory", nullptr, id));
}

TEST_F(MonitorCounters, LongNamesAreCutTo63AndStillFoundAgain) {
    const std::wstring longName(100, L'x');
    const StatisticId first =
        monitor->RegisterStatistic(longName.c_str(), StatisticType::Counter, Options(group));
    EXPECT_EQ(std::wstring(monitor->GetStatisticName(first)), std::wstring(63, L'x'));
    EXPECT_EQ(monitor->RegisterStatistic(longName.c_str(), StatisticType::Counter, Options(group)), first);
    const std::wstring longGroup(80, L'g');
    const StatisticGroupId g = monitor->RegisterGroup(longGroup.c_str());
    EXPECT_EQ(monitor->RegisterGroup(longGroup.c_str()), g);
}

TEST_F(MonitorCounters, CounterOperationsAndFrames) {
    const StatisticId id =
        monitor->RegisterStatistic(L"Items", StatisticType::Counter, Options(group, L"MB", 0.5));
    monitor->CounterAdd(id, 5);
    monitor->CounterSub(id, 2);
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(id, StatisticValueMethod::Value), 1.5);
    fakeNow = 250000;
    monitor->Tick();
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(id, StatisticValueMethod::Value), 3 * 0.5);
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(id, StatisticValueMethod::PerFrame), 3 * 0.5);
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(id, StatisticValueMethod::Default), 3 * 0.5);
    fakeNow = 500000;
    monitor->Tick();
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(id, StatisticValueMethod::PerFrame), 0.0);
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(id, StatisticValueMethod::Value), 1.5);

    monitor->CounterInc(id);
    monitor->CounterInc(id);
    monitor->CounterDec(id);
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(id, StatisticValueMethod::Value), 4 * 0.5);
    monitor->CounterSet(id, -7);
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(id, StatisticValueMethod::Value), -7 * 0.5);
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(id, static_cast<StatisticValueMethod::Enum>(9)), 0.0);
}

TEST_F(MonitorCounters, AmountsAreSignExtended) {
    monitor->CounterAdd(total, -1);
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(total, StatisticValueMethod::Value), -1.0);
    monitor->CounterSub(total, -2147483647 - 1);
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(total, StatisticValueMethod::Value), 2147483647.0);
}

TEST_F(MonitorCounters, PerSecondUsesTheLastFrameRate) {
    const StatisticId id =
        monitor->RegisterStatistic(L"Rate", StatisticType::Counter, Options(group, L"MB", 1.0));
    fakeNow = 1000;
    monitor->Tick();
    monitor->CounterAdd(id, 2);
    fakeNow = 1000 + 250000; // 40 frames per second at 10 MHz
    monitor->Tick();
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(id, StatisticValueMethod::PerSecond), 80.0);
    // A second tick at the same instant keeps the last rate instead of dividing by zero.
    monitor->Tick();
    monitor->CounterAdd(id, 1);
    monitor->Tick();
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(id, StatisticValueMethod::PerSecond), 40.0);
}

TEST_F(MonitorCounters, UnitsComposeTheFrameAndSecondSuffixes) {
    const StatisticId id =
        monitor->RegisterStatistic(L"Sized", StatisticType::Counter, Options(group, L"MB"));
    const wchar_t* unit = monitor->GetStatisticUnit(id, StatisticValueMethod::Value);
    EXPECT_EQ(std::wstring(unit), L"MB");
    EXPECT_EQ(std::wstring(monitor->GetStatisticUnit(id, StatisticValueMethod::PerFrame)), L"MB/frame");
    EXPECT_EQ(std::wstring(monitor->GetStatisticUnit(id, StatisticValueMethod::PerSecond)), L"MB/s");
    EXPECT_EQ(monitor->GetStatisticUnit(id, StatisticValueMethod::Default), unit);
    const std::wstring longUnit(300, L'u');
    const StatisticId wide =
        monitor->RegisterStatistic(L"Wide", StatisticType::Counter, Options(group, longUnit.c_str()));
    EXPECT_EQ(std::wstring(monitor->GetStatisticUnit(wide, StatisticValueMethod::PerSecond)).size(), 255u);
    EXPECT_EQ(monitor->GetStatisticUnit(999, StatisticValueMethod::Value), nullptr);
    EXPECT_EQ(monitor->GetStatisticName(999), nullptr);
    EXPECT_EQ(monitor->GetStatisticDescription(999), nullptr);
    EXPECT_EQ(std::wstring(monitor->GetStatisticDescription(id)), L"test statistic");
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(999, StatisticValueMethod::Value), 0.0);
}

TEST_F(MonitorCounters, RangesAccumulateTicksPerThread) {
    const StatisticId outer = monitor->RegisterStatistic(L"Outer", StatisticType::Counter, Options(group));
    const StatisticId inner = monitor->RegisterStatistic(L"Inner", StatisticType::Counter, Options(group));
    fakeNow = 100;
    monitor->PushRange(outer);
    fakeNow = 130;
    monitor->PushRange(inner);
    fakeNow = 150;
    monitor->PopRange();
    fakeNow = 200;
    monitor->PopRange();
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(inner, StatisticValueMethod::Value), 20.0);
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(outer, StatisticValueMethod::Value), 100.0);
    // Nothing open: changes nothing.
    monitor->PopRange();
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(outer, StatisticValueMethod::Value), 100.0);
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(total, StatisticValueMethod::Value), 0.0);
}

TEST_F(MonitorCounters, PushesPastTheDepthLimitAreNotTimed) {
    const StatisticId deep = monitor->RegisterStatistic(L"Deep", StatisticType::Counter, Options(group));
    const StatisticId over = monitor->RegisterStatistic(L"Over", StatisticType::Counter, Options(group));
    fakeNow = 0;
    for (unsigned i = 0; i < PerformanceMonitor::MaxRangeDepth; ++i)
        monitor->PushRange(deep);
    monitor->PushRange(over);
    fakeNow = 10;
    // The 65th push was not stacked: its pop closes the 64th range.
    monitor->PopRange();
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(over, StatisticValueMethod::Value), 0.0);
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(deep, StatisticValueMethod::Value), 10.0);
    for (unsigned i = 1; i < PerformanceMonitor::MaxRangeDepth; ++i)
        monitor->PopRange();
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(deep, StatisticValueMethod::Value), 640.0);
}

TEST_F(MonitorCounters, BeginRangeHandlesStartAtTwoToTheForty) {
    const StatisticId id = monitor->RegisterStatistic(L"Loads", StatisticType::Counter, Options(group));
    EXPECT_EQ(monitor->BeginRange(id), 1099511627776ull);
    EXPECT_EQ(monitor->BeginRange(id), 1099511627777ull);
    monitor->EndRange(1099511627776ull);
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(id, StatisticValueMethod::Value), 2.0);
}

class RecordingMonitor : public IMonitor {
  public:
    std::uint64_t OnBeginRange(Statistic& statistic) override {
        calls += L"begin:" + std::wstring(statistic.name) + L";";
        return 42;
    }
    void OnEndRange(std::uint64_t handle) override { calls += L"end:" + std::to_wstring(handle) + L";"; }
    void OnPushRange(Statistic& statistic) override {
        calls += L"push:" + std::wstring(statistic.name) + L";";
    }
    void OnPopRange() override { calls += L"pop;"; }
    std::wstring calls;
};

TEST_F(MonitorCounters, ObserverSeesEveryRangeAndSuppliesHandles) {
    const StatisticId id = monitor->RegisterStatistic(L"Watched", StatisticType::Counter, Options(group));
    RecordingMonitor observer;
    EXPECT_EQ(monitor->RegisterMonitor(&observer), Error::Ok);
    EXPECT_EQ(monitor->BeginRange(id), 42u);
    monitor->EndRange(42);
    monitor->PushRange(id);
    monitor->PopRange();
    EXPECT_EQ(observer.calls, L"begin:Watched;end:42;push:Watched;pop;");
    EXPECT_EQ(monitor->RegisterMonitor(nullptr), Error::Ok);
    monitor->PushRange(id);
    monitor->PopRange();
    EXPECT_EQ(observer.calls, L"begin:Watched;end:42;push:Watched;pop;");
}

TEST_F(MonitorCounters, FullTablesGiveAnInvalidIdentifierThatEveryOperationIgnores) {
    for (unsigned i = monitor->GetNumStatistics(); i < PerformanceMonitor::MaxStatistics; ++i) {
        const std::wstring name = L"s" + std::to_wstring(i);
        ASSERT_EQ(monitor->RegisterStatistic(name.c_str(), StatisticType::Counter, Options(group)), i);
    }
    const StatisticId overflow =
        monitor->RegisterStatistic(L"one too many", StatisticType::Counter, Options(group));
    EXPECT_FALSE(overflow.IsValid());
    EXPECT_EQ(monitor->GetNumStatistics(), PerformanceMonitor::MaxStatistics);
    monitor->CounterAdd(overflow, 5);
    monitor->CounterInc(overflow);
    monitor->CounterSet(overflow, 1);
    EXPECT_EQ(monitor->BeginRange(overflow), ~0ull);
    monitor->EndRange(~0ull);
    // An ignored push still pairs with its pop, so the enclosing range keeps its own timing.
    fakeNow = 0;
    monitor->PushRange(total);
    monitor->PushRange(overflow);
    fakeNow = 5;
    monitor->PopRange();
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(total, StatisticValueMethod::Value), 0.0);
    monitor->PopRange();
    EXPECT_DOUBLE_EQ(monitor->GetStatisticValue(total, StatisticValueMethod::Value), 5.0);
    EXPECT_EQ(monitor->GetStatisticName(overflow), nullptr);

    for (unsigned i = monitor->RegisterGroup(L"g-last") + 1; i < PerformanceMonitor::MaxGroups; ++i) {
        const std::wstring name = L"g" + std::to_wstring(i);
        ASSERT_EQ(monitor->RegisterGroup(name.c_str()), i);
    }
    EXPECT_FALSE(monitor->RegisterGroup(L"group too many").IsValid());
    EXPECT_FALSE(monitor->RegisterGroup(nullptr).IsValid());
    EXPECT_FALSE(monitor->RegisterStatistic(nullptr, StatisticType::Counter, Options(group)).IsValid());
}

TEST_F(MonitorCounters, ModeIsStoredOnly) {
    EXPECT_EQ(monitor->GetMode(), 1u);
    monitor->SetMode(static_cast<PerformanceCaptureMode::Enum>(3));
    EXPECT_EQ(monitor->GetMode(), 3u);
    EXPECT_FALSE(monitor->IsCapturing());
    EXPECT_EQ(monitor->StopRecord(), Error::InvalidState);
    EXPECT_EQ(monitor->StartRecord(nullptr), Error::InvalidParameter);
}

} // namespace
