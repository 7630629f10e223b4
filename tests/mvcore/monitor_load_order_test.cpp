// What the library registers while it loads, and in which order. This program makes no allocation
// through the library before the checks, so the nine allocation-category statistics are not there yet.
#include "Marvane/Allocator.h"
#include "Marvane/Performance/PerformanceMonitor.h"

#include <gtest/gtest.h>
#include <string>

using namespace Marvane::Performance;

namespace {

const wchar_t* const loadTimeStatistics[] = {
    L"Total",
    L"DedicatedVideoMemory",
    L"AvailableDedicatedVideoMemory",
    L"CurrentAvailableDedicatedVideoMemory",
    L"SharedSystemMemory",
    L"SystemVideoMemory",
    L"DedicatedVideoMemory1",
    L"AvailableDedicatedVideoMemory1",
    L"CurrentAvailableDedicatedVideoMemory1",
};

TEST(MonitorLoadOrder, StatisticsHaveTheirFixedIdentifiers) {
    PerformanceMonitor* monitor = GetPerformanceMonitor();
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(static_cast<IPerformanceManager*>(monitor), GetPerformanceManager());
    ASSERT_GE(monitor->GetNumStatistics(), 9u);
    for (unsigned id = 0; id < 9; ++id) {
        EXPECT_EQ(std::wstring(monitor->GetStatisticName(id)), loadTimeStatistics[id]) << id;
    }
}

TEST(MonitorLoadOrder, GroupsHaveTheirFixedIdentifiers) {
    PerformanceMonitor* monitor = GetPerformanceMonitor();
    EXPECT_EQ(monitor->RegisterGroup(L"General"), 0u);
    EXPECT_EQ(monitor->RegisterGroup(L"Memory"), 1u);
    EXPECT_EQ(monitor->RegisterGroup(L"NVAPI_GPU0"), 2u);
    EXPECT_EQ(monitor->RegisterGroup(L"NVAPI_GPU1"), 3u);
    unsigned int id = 99;
    ASSERT_TRUE(monitor->FindStatistic(L"Memory", L"Total", id));
    EXPECT_EQ(id, 0u);
    ASSERT_TRUE(monitor->FindStatistic(L"NVAPI_GPU0", L"SystemVideoMemory", id));
    EXPECT_EQ(id, 5u);
    ASSERT_TRUE(monitor->FindStatistic(L"NVAPI_GPU1", L"DedicatedVideoMemory1", id));
    EXPECT_EQ(id, 6u);
    EXPECT_FALSE(monitor->FindStatistic(L"NVAPI_GPU1", L"DedicatedVideoMemory", id));
}

TEST(MonitorLoadOrder, OptionsOfTheLoadTimeStatistics) {
    PerformanceMonitor* monitor = GetPerformanceMonitor();
    EXPECT_EQ(std::wstring(monitor->GetStatisticDescription(0)), L"All memory allocations");
    EXPECT_EQ(std::wstring(monitor->GetStatisticUnit(0, StatisticValueMethod::Default)), L"MiB");
    EXPECT_EQ(std::wstring(monitor->GetStatisticUnit(1, StatisticValueMethod::Default)), L"MB");
    EXPECT_EQ(std::wstring(monitor->GetStatisticUnit(1, StatisticValueMethod::PerSecond)), L"MB/s");
    EXPECT_EQ(std::wstring(monitor->GetStatisticDescription(2)),
              L"Maximum available dedicated graphics memory.");
    EXPECT_EQ(std::wstring(monitor->GetStatisticDescription(7)), L"Gpu Memory Free (reported by the driver)");
    // Registering "Total" again in "Memory" finds identifier 0.
    StatisticOptions options;
    options.group = monitor->RegisterGroup(L"Memory");
    const unsigned before = monitor->GetNumStatistics();
    EXPECT_EQ(monitor->RegisterStatistic(L"Total", StatisticType::Counter, options), 0u);
    EXPECT_EQ(monitor->GetNumStatistics(), before);
}

// Last in this file: the first allocation of the process adds the category statistics.
TEST(MonitorLoadOrder, TheFirstAllocationRegistersTheNineCategoryStatistics) {
    PerformanceMonitor* monitor = GetPerformanceMonitor();
    ASSERT_EQ(monitor->GetNumStatistics(), 9u);
    const Marvane::ContextInfo context{__FILE__, __LINE__, "test"};
    void* block = Marvane::GetAllocator()->Alloc(100, Marvane::AllocationCategory::Enum(3), context);
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(monitor->GetNumStatistics(), 18u);
    for (unsigned category = 0; category < 9; ++category) {
        EXPECT_EQ(std::wstring(monitor->GetStatisticName(9 + category)),
                  Marvane::AllocationCategory::ToString(Marvane::AllocationCategory::Enum(category)));
        unsigned int id = 0;
        ASSERT_TRUE(monitor->FindStatistic(L"Memory", monitor->GetStatisticName(9 + category), id));
        EXPECT_EQ(id, 9 + category);
    }
    EXPECT_EQ(monitor->GetStatisticValue(12, StatisticValueMethod::Value), 100.0 / 1048576.0);
    EXPECT_EQ(monitor->GetStatisticValue(0, StatisticValueMethod::Value), 100.0 / 1048576.0);
    Marvane::GetAllocator()->Free(block, context);
    EXPECT_EQ(monitor->GetStatisticValue(12, StatisticValueMethod::Value), 0.0);
}

} // namespace
