#include "Core/MonitorLink.h"

#include "Marvane/Graphics/GraphicsDriver.h"
#include "Marvane/Performance/PerformanceMonitor.h"

namespace Marvane::Detail {

using Performance::GetPerformanceMonitor;

std::uint32_t RegisterMemoryStatistic(const wchar_t* name, const wchar_t* description) {
    Performance::PerformanceMonitor* monitor = GetPerformanceMonitor();
    Performance::StatisticOptions options;
    options.description = description;
    options.unit = L"MiB";
    options.scale = 1.0 / 1048576.0;
    options.defaultMethod = Performance::StatisticValueMethod::Value;
    options.group = monitor->RegisterGroup(L"Memory");
    return monitor->RegisterStatistic(name, Performance::StatisticType::Counter, options);
}

void CounterAdd(std::uint32_t statistic, std::int32_t amount) {
    GetPerformanceMonitor()->CounterAdd(Performance::StatisticId(statistic), amount);
}

void CounterSub(std::uint32_t statistic, std::int32_t amount) {
    GetPerformanceMonitor()->CounterSub(Performance::StatisticId(statistic), amount);
}

void BindThreadCounter(unsigned slot, std::uint32_t first, std::uint32_t second) {
    Performance::Detail::BindDeferredSlot(slot, first, second);
}

void RegisterCurrentThread(const wchar_t* name) {
    GetPerformanceMonitor()->RegisterCurrentThread(name);
}

void InitializeGraphicsDriver() {
    GlobalGraphicsDriver.Initialize();
}

} // namespace Marvane::Detail
