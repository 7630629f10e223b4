// GPU memory figures from NVML, NVIDIA's management library on Linux. NVML knows the installed and the
// free memory of a GPU; the other NVAPI figures have no NVML counterpart and stay 0.
#include "Graphics/GraphicsDriverSource.h"
#include "Marvane/Platform/CriticalSection.h"
#include "Marvane/Platform/DynamicLibrary.h"
#include "Platform/Environment.h"

namespace Marvane::Graphics::Detail {

namespace {

struct NvmlMemory {
    unsigned long long total;
    unsigned long long free;
    unsigned long long used;
};

using InitFunction = int (*)();
using CountFunction = int (*)(unsigned int*);
using HandleFunction = int (*)(unsigned int, void**);
using MemoryFunction = int (*)(void*, NvmlMemory*);

struct Nvml {
    void* library = nullptr;
    InitFunction init = nullptr;
    CountFunction count = nullptr;
    HandleFunction handle = nullptr;
    MemoryFunction memory = nullptr;
};

Nvml nvml;

// Made on first use: the driver may be opened while the library's globals are still being initialised.
Platform::CriticalSection& LoadLock() {
    static Platform::CriticalSection lock;
    return lock;
}

template <class Function> Function Resolve(void* library, const wchar_t* name) {
    void (*address)() = nullptr;
    Platform::GetDynamicLibraryProcAddress(library, name, &address);
    return reinterpret_cast<Function>(address);
}

// The library stays loaded: GPU handles point into it.
bool Load() {
    Platform::ScopedCriticalSection held(LoadLock());
    if (nvml.library != nullptr) return true;
    wchar_t chosen[1024];
    const bool overridden = Platform::Detail::ReadEnvironment(LibraryOverrideVariable, chosen,
                                                              sizeof(chosen) / sizeof(chosen[0]));
    void* library = nullptr;
    if (Platform::LoadDynamicLibrary(overridden ? chosen : L"libnvidia-ml.so.1", library) != Error::Ok)
        return false;
    Nvml loaded;
    loaded.library = library;
    loaded.init = Resolve<InitFunction>(library, L"nvmlInit_v2");
    loaded.count = Resolve<CountFunction>(library, L"nvmlDeviceGetCount_v2");
    loaded.handle = Resolve<HandleFunction>(library, L"nvmlDeviceGetHandleByIndex_v2");
    loaded.memory = Resolve<MemoryFunction>(library, L"nvmlDeviceGetMemoryInfo");
    if (loaded.init == nullptr || loaded.count == nullptr || loaded.handle == nullptr ||
        loaded.memory == nullptr) {
        Platform::UnloadDynamicLibrary(library);
        return false;
    }
    nvml = loaded;
    return true;
}

std::uint32_t ToKiB(unsigned long long bytes) {
    const unsigned long long kib = bytes / 1024;
    return kib > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kib);
}

} // namespace

bool OpenDriver(void*& first, void*& second) {
    if (!Load()) return false;
    if (nvml.init() != 0) return false;
    unsigned int count = 0;
    if (nvml.count(&count) != 0) return false;
    void* handles[2] = {nullptr, nullptr};
    for (unsigned int i = 0; i < count && i < 2; ++i) {
        if (nvml.handle(i, &handles[i]) != 0) return false;
    }
    first = handles[0];
    second = handles[1];
    return true;
}

bool QueryMemory(void* gpu, GpuMemory& memory) {
    memory = GpuMemory();
    if (nvml.memory == nullptr) return false;
    NvmlMemory figures{};
    if (nvml.memory(gpu, &figures) != 0) return false;
    memory.dedicatedVideoMemory = ToKiB(figures.total);
    memory.currentAvailableDedicatedVideoMemory = ToKiB(figures.free);
    return true;
}

} // namespace Marvane::Graphics::Detail
