#pragma once

// The core runtime's only calls into the performance monitor and the graphics driver. Keeping them
// here lets the allocator, the job system and the core count stay independent of how the monitor is
// built.

#include <cstdint>

namespace Marvane::Detail {

// Identifier of a statistic that the monitor did not hand out; counter updates ignore it.
inline constexpr std::uint32_t NoStatistic = 0xFFFFFFFFu;

// Registers (or finds) a statistic of the group "Memory" with the options every memory statistic
// shares: counter type, unit "MiB", scale 2^-20, read as a value.
std::uint32_t RegisterMemoryStatistic(const wchar_t* name, const wchar_t* description);

void CounterAdd(std::uint32_t statistic, std::int32_t amount);
void CounterSub(std::uint32_t statistic, std::int32_t amount);

// Makes the calling thread known to the monitor so its ranges are attributed to `name`.
void RegisterCurrentThread(const wchar_t* name);

// Re-runs the graphics driver's initialisation; part of every InitializeCore.
void InitializeGraphicsDriver();

} // namespace Marvane::Detail
