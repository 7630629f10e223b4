#include "PerformanceMonitor/ProcessMonitor.h"

#include "Marvane/Performance/PerformanceMonitor.h"

#include <atomic>
#include <new>

namespace Marvane::Performance::Detail {

namespace {

// Set before the constructor runs, which asks whether it builds the process-wide monitor.
constinit std::atomic<const void*> processMonitor{nullptr};

} // namespace

bool IsProcessMonitor(const PerformanceMonitor* monitor) {
    return monitor != nullptr && static_cast<const void*>(monitor) == processMonitor.load();
}

PerformanceMonitor* ConstructProcessMonitor(void* storage) {
    processMonitor.store(storage);
    return new (storage) PerformanceMonitor();
}

} // namespace Marvane::Performance::Detail
