#pragma once

namespace Marvane::Performance {
class PerformanceMonitor;
}

namespace Marvane::Graphics::Detail {

// Registers the two GPU groups and eight statistics; part of the load-time registration order.
void RegisterGraphicsDriverStatistics(Performance::PerformanceMonitor& monitor);

} // namespace Marvane::Graphics::Detail
