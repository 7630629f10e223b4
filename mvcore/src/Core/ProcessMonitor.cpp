// The process-wide monitor and the registrations made while the library loads. It lives with the core,
// above both the monitor and the graphics driver, because the load-time registrations of both come
// in one fixed order here.
//
// C++ runs the static initialisers of different files in no fixed order, so no file registers its own
// load-time statistics. The monitor is created on first use and, in the same step, everything the library
// registers at load is registered here in one fixed order: whichever file asks for the monitor first,
// the identifiers come out the same. Later registrations of the same names (the allocator's "Total", for
// example) find the existing entries.
#include "Marvane/Performance/PerformanceMonitor.h"

#include "Graphics/GraphicsDriverStatistics.h"
#include "PerformanceMonitor/MonitorDiagnostics.h"
#include "PerformanceMonitor/ProcessMonitor.h"

#include <atomic>

namespace Marvane::Performance {

namespace {

// Registered by the allocator's memory accounting as well; the texts must agree with it.
constexpr wchar_t MemoryGroupName[] = L"Memory";
constexpr wchar_t TotalName[] = L"Total";
constexpr wchar_t TotalDescription[] = L"All memory allocations";
constexpr wchar_t MemoryUnit[] = L"MiB";
constexpr double BytesToMiB = 1.0 / 1048576.0;

void RegisterLoadTimeStatistics(PerformanceMonitor& monitor) {
    // "General" (group 0) is registered by the monitor's constructor.
    StatisticOptions total;
    total.description = TotalDescription;
    total.unit = MemoryUnit;
    total.scale = BytesToMiB;
    total.defaultMethod = StatisticValueMethod::Value;
    total.group = monitor.RegisterGroup(MemoryGroupName);
    monitor.RegisterStatistic(TotalName, StatisticType::Counter, total);
    Graphics::Detail::RegisterGraphicsDriverStatistics(monitor);
}

// The monitor lives in static storage and is never destroyed: code that runs late during process exit
// (releases that update the memory statistics) still finds a valid object. At exit it is only stopped.
alignas(PerformanceMonitor) unsigned char storage[sizeof(PerformanceMonitor)];

struct StopAtExit {
    PerformanceMonitor* monitor;
    ~StopAtExit() { monitor->Shutdown(); }
};

PerformanceMonitor* CreateProcessMonitor() {
    Detail::HoldProblemsDuringCreation(true);
    PerformanceMonitor* monitor = Detail::ConstructProcessMonitor(storage);
    RegisterLoadTimeStatistics(*monitor);
    Detail::HoldProblemsDuringCreation(false);
    static StopAtExit stopper{monitor};
    return monitor;
}

} // namespace

PerformanceMonitor* GetPerformanceMonitor() {
    static PerformanceMonitor* const monitor = CreateProcessMonitor();
    // Delivered outside the creation step: the log manager may allocate, and allocating asks for the
    // monitor again.
    static std::atomic<bool> delivered{false};
    if (!delivered.load(std::memory_order_acquire) && !delivered.exchange(true)) Detail::DeliverHeldProblem();
    return monitor;
}

IPerformanceManager* GetPerformanceManager() {
    return GetPerformanceMonitor();
}

namespace {

// Creates the monitor while the library loads, so that a capture requested by the environment starts
// before any client code runs.
struct CreateAtLoad {
    CreateAtLoad() { GetPerformanceMonitor(); }
} const createAtLoad;

} // namespace

} // namespace Marvane::Performance
