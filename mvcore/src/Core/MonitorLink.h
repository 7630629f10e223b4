#pragma once

// The core runtime's only calls into the performance monitor and the graphics driver. Keeping them
// here lets the allocator, the job system and the core count stay independent of how the monitor is
// built.

#include "PerformanceMonitor/DeferredCounters.h"

#include <cstdint>

namespace Marvane::Detail {

// Identifier of a statistic that the monitor did not hand out; counter updates ignore it.
inline constexpr std::uint32_t NoStatistic = 0xFFFFFFFFu;

// Registers (or finds) a statistic of the group "Memory" with the options every memory statistic
// shares: counter type, unit "MiB", scale 2^-20, read as a value.
std::uint32_t RegisterMemoryStatistic(const wchar_t* name, const wchar_t* description);

void CounterAdd(std::uint32_t statistic, std::int32_t amount);
void CounterSub(std::uint32_t statistic, std::int32_t amount);

// The cheap way to count while no performance log is captured: `amount` goes to a slot that the calling
// thread keeps to itself, and the monitor folds it into the slot's statistics before anything reads
// them. False when the update must go through CounterAdd or CounterSub (a log is being captured, and
// each update is a record of its own) and, for the first form, when the thread has no counters yet:
// the second form gives it some.
inline bool AddToThreadCounter(unsigned slot, std::int64_t amount) {
    return Performance::Detail::AddDeferred(slot, amount);
}
inline bool AddToThreadCounterAttaching(unsigned slot, std::int64_t amount) {
    return Performance::Detail::AddDeferredAttaching(slot, amount);
}

// What is added to `slot` goes to `first` and `second` (NoStatistic for none).
void BindThreadCounter(unsigned slot, std::uint32_t first, std::uint32_t second);

// Makes the calling thread known to the monitor so its ranges are attributed to `name`.
void RegisterCurrentThread(const wchar_t* name);

// Re-runs the graphics driver's initialisation; part of every InitializeCore.
void InitializeGraphicsDriver();

} // namespace Marvane::Detail
