#pragma once

#include "Core/MonitorLink.h"
#include "Marvane/Allocator.h"

#include <atomic>
#include <cstdint>

namespace Marvane::Detail {

// Set once the category statistics are registered and bound to the thread counters.
extern std::atomic<bool> memoryStatisticsReady;

// Categories outside 0..8 share the last slot, which counts towards "Total" only.
inline unsigned MemoryCounterSlot(unsigned category) {
    return category < AllocationCategory::Count ? category : AllocationCategory::Count;
}

// Sizes are accounted as signed 32-bit amounts, so sizes of 2 GiB and more wrap.
inline std::int32_t AsCounterAmount(std::uint64_t size) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(size));
}

// The first use in the process (registration), and every update while a log is being captured.
void AccountThroughMonitor(unsigned category, std::int32_t amount, bool release);

// Adds `size` bytes to the statistic of `category` and to "Total". While no performance log is captured
// this is a thread-local add; the monitor folds it in before anything reads the figures.
inline void AccountAllocation(unsigned category, std::uint64_t size) {
    const std::int32_t amount = AsCounterAmount(size);
    if (memoryStatisticsReady.load(std::memory_order_acquire) &&
        AddToThreadCounter(MemoryCounterSlot(category), amount))
        return;
    AccountThroughMonitor(category, amount, false);
}

// Takes `size` bytes back from the statistic of `category` and from "Total".
inline void AccountRelease(unsigned category, std::uint64_t size) {
    const std::int32_t amount = AsCounterAmount(size);
    if (memoryStatisticsReady.load(std::memory_order_acquire) &&
        AddToThreadCounter(MemoryCounterSlot(category), -static_cast<std::int64_t>(amount)))
        return;
    AccountThroughMonitor(category, amount, true);
}

// Finds (registering it if need be) the statistic "Total" of the group "Memory". The monitor registers
// it while the library loads, so this normally returns that load-time identifier.
std::uint32_t RegisterTotalMemoryStatistic();

} // namespace Marvane::Detail
