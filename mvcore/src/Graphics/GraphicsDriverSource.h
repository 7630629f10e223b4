#pragma once

// The vendor library behind WindowsGraphicsDriver: NVAPI on Windows, NVML elsewhere.

#include <cstdint>

namespace Marvane::Graphics::Detail {

// Figures in KiB, as NVAPI's version-2 display-driver memory record gives them.
struct GpuMemory {
    std::uint32_t dedicatedVideoMemory = 0;
    std::uint32_t availableDedicatedVideoMemory = 0;
    std::uint32_t systemVideoMemory = 0;
    std::uint32_t sharedSystemMemory = 0;
    std::uint32_t currentAvailableDedicatedVideoMemory = 0;
};

// Loads (once) and initialises the driver and returns the first two GPU handles (null where there is
// none). False when there is no driver or enumeration failed; the handles are then left as they are.
bool OpenDriver(void*& first, void*& second);
bool QueryMemory(void* gpu, GpuMemory& memory);

// Environment variable that replaces the vendor library's name (tests point it at a fake).
constexpr wchar_t LibraryOverrideVariable[] = L"MARVANE_GPU_DRIVER_LIBRARY";

} // namespace Marvane::Graphics::Detail
