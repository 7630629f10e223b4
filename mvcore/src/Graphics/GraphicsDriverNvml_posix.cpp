// GPU memory figures from NVML, NVIDIA's management library on Linux. NVML knows the installed and the
// free memory of a GPU; the other NVAPI figures have no NVML counterpart and stay 0.
#include "Graphics/GraphicsDriverSource.h"
#include "Platform/Environment.h"
#include "String/Utf8.h"

#include <dlfcn.h>
#include <mutex>

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

std::mutex loadMutex;
Nvml nvml;

template <class Function> Function Resolve(void* library, const char* name) {
    return reinterpret_cast<Function>(dlsym(library, name));
}

// The library stays loaded: GPU handles point into it.
bool Load() {
    std::lock_guard<std::mutex> lock(loadMutex);
    if (nvml.library != nullptr) return true;
    wchar_t wide[1024];
    char path[4096] = "libnvidia-ml.so.1";
    if (Platform::Detail::ReadEnvironment(LibraryOverrideVariable, wide, sizeof(wide) / sizeof(wide[0]))) {
        if (!String::Detail::WideToUtf8(wide, path, sizeof(path), String::Detail::InvalidUnits::Fail))
            return false;
    }
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return false;
    Nvml loaded;
    loaded.library = library;
    loaded.init = Resolve<InitFunction>(library, "nvmlInit_v2");
    loaded.count = Resolve<CountFunction>(library, "nvmlDeviceGetCount_v2");
    loaded.handle = Resolve<HandleFunction>(library, "nvmlDeviceGetHandleByIndex_v2");
    loaded.memory = Resolve<MemoryFunction>(library, "nvmlDeviceGetMemoryInfo");
    if (loaded.init == nullptr || loaded.count == nullptr || loaded.handle == nullptr ||
        loaded.memory == nullptr) {
        dlclose(library);
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
