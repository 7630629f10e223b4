#pragma once

namespace Marvane::Performance {
class PerformanceMonitor;
}

namespace Marvane::Performance::Detail {

// True for the process-wide monitor (also while it is being constructed): it alone folds in what threads
// counted on their own.
bool IsProcessMonitor(const PerformanceMonitor* monitor);

// Constructs the process-wide monitor in `storage` (room and alignment for a PerformanceMonitor); once.
PerformanceMonitor* ConstructProcessMonitor(void* storage);

} // namespace Marvane::Performance::Detail
