#pragma once

#include "Marvane/Export.h"

namespace Marvane {

// Publishes the video-memory figures of up to two NVIDIA GPUs as performance statistics (group
// "NVAPI_GPU0" and "NVAPI_GPU1", in MB). The driver library is loaded at run time: NVAPI on Windows,
// NVML on Linux; MARVANE_GPU_DRIVER_LIBRARY names another library to load instead. Without a driver
// every figure stays 0.
class MARVANE_API WindowsGraphicsDriver {
  public:
    constexpr WindowsGraphicsDriver() : m_firstGpu(nullptr), m_secondGpu(nullptr), m_firstTickPending(true) {}

    // Finds the GPUs; InitializeCore runs it on each of its calls.
    void Initialize();
    // Once per frame: while a performance log is captured, sets the figures (the fixed ones only on the
    // first such tick, the currently available memory on every one).
    void Tick();

  private:
    void* m_firstGpu;
    void* m_secondGpu;
    bool m_firstTickPending;
};

MARVANE_API extern WindowsGraphicsDriver GlobalGraphicsDriver;

} // namespace Marvane
