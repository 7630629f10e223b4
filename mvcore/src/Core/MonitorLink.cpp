#include "Core/MonitorLink.h"

// Until the performance monitor is part of the build these calls have nowhere to go.

namespace Marvane::Detail {

std::uint32_t RegisterMemoryStatistic(const wchar_t*, const wchar_t*) {
    return NoStatistic;
}

void CounterAdd(std::uint32_t, std::int32_t) {}

void CounterSub(std::uint32_t, std::int32_t) {}

void RegisterCurrentThread(const wchar_t*) {}

void InitializeGraphicsDriver() {}

} // namespace Marvane::Detail
