#include "Core/MemoryStatistics.h"

#include "Core/MonitorLink.h"
#include "Marvane/Allocator.h"

#include <atomic>

namespace Marvane::Detail {
namespace {

const wchar_t* const categoryDescriptions[AllocationCategory::Count] = {
    L"Uncategorized memory allocations",
    L"Context related allocations",
    L"Tile set related allocations",
    L"Cache related allocations",
    L"Buffer allocations",
    L"Allocations by the transcoder(s)",
    L"Temporary short lived allocations",
    L"Graphics (Vantrel) related allocations",
    L"Legacy tile set related allocations",
};

// Two threads may register at the same time; the monitor hands both the same identifiers, so the
// entries only ever change from "unset" to their one final value.
std::atomic<std::uint32_t> categoryStatistics[AllocationCategory::Count] = {
    NoStatistic, NoStatistic, NoStatistic, NoStatistic, NoStatistic,
    NoStatistic, NoStatistic, NoStatistic, NoStatistic,
};
std::atomic<std::uint32_t> totalStatistic{NoStatistic};
std::atomic<bool> registered{false};

void RegisterStatistics() {
    for (unsigned category = 0; category < AllocationCategory::Count; ++category) {
        const auto name = AllocationCategory::ToString(static_cast<AllocationCategory::Enum>(category));
        categoryStatistics[category].store(RegisterMemoryStatistic(name, categoryDescriptions[category]),
                                           std::memory_order_relaxed);
    }
    totalStatistic.store(RegisterTotalMemoryStatistic(), std::memory_order_relaxed);
    registered.store(true, std::memory_order_release);
}

// Categories outside 0..8 have no statistic of their own; they still count towards "Total".
std::uint32_t CategoryStatistic(unsigned category) {
    if (!registered.load(std::memory_order_acquire)) RegisterStatistics();
    return category < AllocationCategory::Count ? categoryStatistics[category].load(std::memory_order_relaxed)
                                                : NoStatistic;
}

std::int32_t AsCounterAmount(std::uint64_t size) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(size));
}

} // namespace

std::uint32_t RegisterTotalMemoryStatistic() {
    return RegisterMemoryStatistic(L"Total", L"All memory allocations");
}

void AccountAllocation(unsigned category, std::uint64_t size) {
    const std::uint32_t statistic = CategoryStatistic(category);
    CounterAdd(statistic, AsCounterAmount(size));
    CounterAdd(totalStatistic.load(std::memory_order_relaxed), AsCounterAmount(size));
}

void AccountRelease(unsigned category, std::uint64_t size) {
    const std::uint32_t statistic = CategoryStatistic(category);
    CounterSub(statistic, AsCounterAmount(size));
    CounterSub(totalStatistic.load(std::memory_order_relaxed), AsCounterAmount(size));
}

} // namespace Marvane::Detail
