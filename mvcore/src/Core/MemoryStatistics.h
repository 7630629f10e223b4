#pragma once

#include <cstdint>

namespace Marvane::Detail {

// Adds `size` bytes to the statistic of `category` and to "Total" (as signed 32-bit amounts, so
// sizes of 2 GiB and more wrap). The category statistics are registered on the first call.
void AccountAllocation(unsigned category, std::uint64_t size);

// Takes `size` bytes back from the statistic of `category` and from "Total".
void AccountRelease(unsigned category, std::uint64_t size);

// Finds (registering it if need be) the statistic "Total" of the group "Memory". The monitor registers
// it while the library loads, so this normally returns that load-time identifier.
std::uint32_t RegisterTotalMemoryStatistic();

} // namespace Marvane::Detail
