// Fake NVAPI: nvapi_QueryInterface hands out the three entry points the library asks for.
#include "fake_gpu_figures.h"

#include <windows.h>

namespace {

struct MemoryInfoV2 {
    std::uint32_t version;
    std::uint32_t dedicatedVideoMemory;
    std::uint32_t availableDedicatedVideoMemory;
    std::uint32_t systemVideoMemory;
    std::uint32_t sharedSystemMemory;
    std::uint32_t curAvailableDedicatedVideoMemory;
};

constexpr int Ok = 0;
constexpr int Error = -1;
constexpr int IncompatibleStructVersion = -9;

int devices[2];

unsigned Count() {
    char text[16];
    const DWORD length = GetEnvironmentVariableA("FAKE_GPU_COUNT", text, sizeof(text));
    return length > 0 && length < sizeof(text) ? static_cast<unsigned>(std::atoi(text)) : 1u;
}

bool FailSecond() {
    char text[16];
    const DWORD length = GetEnvironmentVariableA("FAKE_GPU_FAIL_SECOND", text, sizeof(text));
    return length == 1 && text[0] == '1';
}

int __cdecl Initialize() {
    return Ok;
}

int __cdecl EnumPhysicalGpus(void** handles, std::uint32_t* count) {
    const unsigned found = Count();
    for (unsigned i = 0; i < found && i < 2; ++i)
        handles[i] = &devices[i];
    *count = found;
    return Ok;
}

int __cdecl GetMemoryInfo(void* gpu, MemoryInfoV2* info) {
    if (info == nullptr || info->version != 0x00020018u) return IncompatibleStructVersion;
    const unsigned index = gpu == &devices[0] ? 0 : 1;
    if (gpu != &devices[0] && gpu != &devices[1]) return Error;
    if (index == 1 && FailSecond()) return Error;
    const fake_gpu::Figures figures = fake_gpu::Query(index);
    info->dedicatedVideoMemory = figures.dedicated;
    info->availableDedicatedVideoMemory = figures.available;
    info->systemVideoMemory = figures.system;
    info->sharedSystemMemory = figures.shared;
    info->curAvailableDedicatedVideoMemory = figures.current;
    return Ok;
}

} // namespace

extern "C" __declspec(dllexport) void* __cdecl nvapi_QueryInterface(unsigned int id) {
    switch (id) {
    case 0x0150E828u:
        return reinterpret_cast<void*>(&Initialize);
    case 0xE5AC921Fu:
        return reinterpret_cast<void*>(&EnumPhysicalGpus);
    case 0x07F9B368u:
        return reinterpret_cast<void*>(&GetMemoryInfo);
    default:
        return nullptr;
    }
}
