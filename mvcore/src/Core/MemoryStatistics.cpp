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

// Thread counter slots: one per category, each counting towards its category and "Total", and one for
// the categories outside 0..8, which counts towards "Total" only.
void RegisterStatistics() {
    for (unsigned category = 0; category < AllocationCategory::Count; ++category) {
        const auto name = AllocationCategory::ToString(static_cast<AllocationCategory::Enum>(category));
        categoryStatistics[category].store(RegisterMemoryStatistic(name, categoryDescriptions[category]),
                                           std::memory_order_relaxed);
    }
    const std::uint32_t total = RegisterTotalMemoryStatistic();
    totalStatistic.store(total, std::memory_order_relaxed);
    for (unsigned category = 0; category < AllocationCategory::Count; ++category)
        BindThreadCounter(category, categoryStatistics[category].load(std::memory_order_relaxed), total);
    BindThreadCounter(MemoryCounterSlot(AllocationCategory::Count), total, NoStatistic);
    memoryStatisticsReady.store(true, std::memory_order_release);
}

std::uint32_t CategoryStatistic(unsigned category) {
    return category < AllocationCategory::Count ? categoryStatistics[category].load(std::memory_order_relaxed)
                                                : NoStatistic;
}

} // namespace

std::atomic<bool> memoryStatisticsReady{false};

std::uint32_t RegisterTotalMemoryStatistic() {
    return RegisterMemoryStatistic(L"Total", L"All memory allocations");
}

// While a log is captured each amount is a CounterAdd or CounterSub record of its own, category first,
// then "Total".
void AccountThroughMonitor(unsigned category, std::int32_t amount, bool release) {
    if (!memoryStatisticsReady.load(std::memory_order_acquire)) RegisterStatistics();
    const std::int64_t signedAmount = release ? -static_cast<std::int64_t>(amount) : amount;
    if (AddToThreadCounterAttaching(MemoryCounterSlot(category), signedAmount)) return;
    const std::uint32_t total = totalStatistic.load(std::memory_order_relaxed);
    if (release) {
        CounterSub(CategoryStatistic(category), amount);
        CounterSub(total, amount);
    } else {
        CounterAdd(CategoryStatistic(category), amount);
        CounterAdd(total, amount);
    }
}

} // namespace Marvane::Detail
