#include "Marvane/Graphics/GraphicsDriver.h"

#include "Graphics/GraphicsDriverSource.h"
#include "Graphics/GraphicsDriverStatistics.h"
#include "Marvane/Performance/PerformanceMonitor.h"

namespace Marvane {

WindowsGraphicsDriver GlobalGraphicsDriver;

namespace {

using Performance::StatisticId;

enum Figure {
    Dedicated0,
    AvailableDedicated0,
    CurrentAvailableDedicated0,
    SharedSystem0,
    SystemVideo0,
    Dedicated1,
    AvailableDedicated1,
    CurrentAvailableDedicated1,
    FigureCount
};

StatisticId figureIds[FigureCount];

struct FigureDefinition {
    const wchar_t* name;
    const wchar_t* description;
    bool secondGpu;
};

constexpr wchar_t SecondGpuDescription[] = L"Gpu Memory Free (reported by the driver)";

const FigureDefinition figures[FigureCount] = {
    {L"DedicatedVideoMemory",
     L"Total amount of dedicated graphics memory. (usually discrete graphics adapter memory)", false},
    {L"AvailableDedicatedVideoMemory", L"Maximum available dedicated graphics memory.", false},
    {L"CurrentAvailableDedicatedVideoMemory",
     L"Currently available dedicated graphics memory. If you see this counter getting lower than 50MB, then "
     L"you "
     L"know you are likely overcommitting video memory (or are going to do it soon).",
     false},
    {L"SharedSystemMemory",
     L"Shared system memory that driver is allowed to commit for surfaces across all allocations.", false},
    {L"SystemVideoMemory",
     L"System memory the driver allocates exclusively for graphics use at load time. (usually integrated "
     L"graphics "
     L"adapter memory)",
     false},
    {L"DedicatedVideoMemory1", SecondGpuDescription, true},
    {L"AvailableDedicatedVideoMemory1", SecondGpuDescription, true},
    {L"CurrentAvailableDedicatedVideoMemory1", SecondGpuDescription, true},
};

void Set(Performance::PerformanceMonitor& monitor, Figure figure, std::uint32_t kib) {
    monitor.CounterSet(figureIds[figure], static_cast<int>(kib));
}

} // namespace

namespace Graphics::Detail {

void RegisterGraphicsDriverStatistics(Performance::PerformanceMonitor& monitor) {
    const Performance::StatisticGroupId first = monitor.RegisterGroup(L"NVAPI_GPU0");
    const Performance::StatisticGroupId second = monitor.RegisterGroup(L"NVAPI_GPU1");
    for (int i = 0; i < FigureCount; ++i) {
        Performance::StatisticOptions options;
        options.description = figures[i].description;
        options.unit = L"MB";
        options.scale = 1.0 / 1024.0; // the driver reports KiB
        options.defaultMethod = Performance::StatisticValueMethod::Value;
        options.group = figures[i].secondGpu ? second : first;
        figureIds[i] =
            monitor.RegisterStatistic(figures[i].name, Performance::StatisticType::Counter, options);
    }
}

} // namespace Graphics::Detail

void WindowsGraphicsDriver::Initialize() {
    Graphics::Detail::OpenDriver(m_firstGpu, m_secondGpu);
}

void WindowsGraphicsDriver::Tick() {
    Performance::PerformanceMonitor& monitor = *Performance::GetPerformanceMonitor();
    if (!monitor.IsCapturing()) return;
    Graphics::Detail::GpuMemory memory;
    if (m_firstGpu != nullptr) {
        if (Graphics::Detail::QueryMemory(m_firstGpu, memory)) {
            if (m_firstTickPending) {
                Set(monitor, Dedicated0, memory.dedicatedVideoMemory);
                Set(monitor, AvailableDedicated0, memory.availableDedicatedVideoMemory);
                Set(monitor, SharedSystem0, memory.sharedSystemMemory);
                Set(monitor, SystemVideo0, memory.systemVideoMemory);
            }
            Set(monitor, CurrentAvailableDedicated0, memory.currentAvailableDedicatedVideoMemory);
        }
        if (m_secondGpu != nullptr && Graphics::Detail::QueryMemory(m_secondGpu, memory)) {
            if (m_firstTickPending) {
                Set(monitor, Dedicated1, memory.dedicatedVideoMemory);
                Set(monitor, AvailableDedicated1, memory.availableDedicatedVideoMemory);
            }
            Set(monitor, CurrentAvailableDedicated1, memory.currentAvailableDedicatedVideoMemory);
        }
    }
    m_firstTickPending = false;
}

} // namespace Marvane
