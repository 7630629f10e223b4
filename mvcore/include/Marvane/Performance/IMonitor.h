#pragma once

#include "Marvane/Performance/Statistic.h"

#include <cstdint>

namespace Marvane::Performance {

// Optional observer of ranges, implemented by the client (for example to forward ranges to an external
// profiler). Every callback runs with the monitor's lock held and must not wait for other threads that
// log.
class IMonitor {
  public:
    // Kept so that the callbacks below keep their slots; the monitor never calls it.
    virtual void Reserved() {}
    // Its result becomes the range handle that BeginRange returns.
    virtual std::uint64_t OnBeginRange(Statistic& statistic) = 0;
    virtual void OnEndRange(std::uint64_t handle) = 0;
    virtual void OnPushRange(Statistic& statistic) = 0;
    virtual void OnPopRange() = 0;

  protected:
    ~IMonitor() = default;
};

} // namespace Marvane::Performance
