// GPU memory figures from NVAPI. The driver exports one function, nvapi_QueryInterface, which hands out
// every other entry point by its interface identifier.
#include "Graphics/GraphicsDriverSource.h"
#include "Marvane/Platform/CriticalSection.h"
#include "Marvane/Platform/DynamicLibrary.h"
#include "Platform/Environment.h"

namespace Marvane::Graphics::Detail {

namespace {

constexpr unsigned int InitializeId = 0x0150E828u;
constexpr unsigned int EnumPhysicalGpusId = 0xE5AC921Fu;
constexpr unsigned int GetMemoryInfoId = 0x07F9B368u;
constexpr unsigned int MaxPhysicalGpus = 64;

// NV_DISPLAY_DRIVER_MEMORY_INFO, version 2: size 24 in the low half of the version word.
struct MemoryInfoV2 {
    std::uint32_t version;
    std::uint32_t dedicatedVideoMemory;
    std::uint32_t availableDedicatedVideoMemory;
    std::uint32_t systemVideoMemory;
    std::uint32_t sharedSystemMemory;
    std::uint32_t curAvailableDedicatedVideoMemory;
};
static_assert(sizeof(MemoryInfoV2) == 24);
constexpr std::uint32_t MemoryInfoV2Version = sizeof(MemoryInfoV2) | (2u << 16);
static_assert(MemoryInfoV2Version == 0x00020018u);

using QueryInterfaceFunction = void*(__cdecl*)(unsigned int);
using InitializeFunction = int(__cdecl*)();
using EnumFunction = int(__cdecl*)(void** handles, std::uint32_t* count);
using MemoryFunction = int(__cdecl*)(void* gpu, MemoryInfoV2* info);

struct Nvapi {
    void* library = nullptr;
    InitializeFunction initialize = nullptr;
    EnumFunction enumerate = nullptr;
    MemoryFunction memory = nullptr;
};

Nvapi nvapi;

// Made on first use: the driver may be opened while the library's globals are still being initialised.
Platform::CriticalSection& LoadLock() {
    static Platform::CriticalSection lock;
    return lock;
}

#if defined(_WIN64)
constexpr wchar_t DefaultLibrary[] = L"nvapi64.dll";
#else
constexpr wchar_t DefaultLibrary[] = L"nvapi.dll";
#endif

template <class Function> Function Query(QueryInterfaceFunction query, unsigned int id) {
    return reinterpret_cast<Function>(query(id));
}

// The library stays loaded: GPU handles belong to it.
bool Load() {
    Platform::ScopedCriticalSection held(LoadLock());
    if (nvapi.library != nullptr) return true;
    wchar_t chosen[1024];
    const bool overridden = Platform::Detail::ReadEnvironment(LibraryOverrideVariable, chosen,
                                                              sizeof(chosen) / sizeof(chosen[0]));
    void* library = nullptr;
    if (Platform::LoadDynamicLibrary(overridden ? chosen : DefaultLibrary, library) != Error::Ok)
        return false;
    void (*entry)() = nullptr;
    Platform::GetDynamicLibraryProcAddress(library, L"nvapi_QueryInterface", &entry);
    auto query = reinterpret_cast<QueryInterfaceFunction>(entry);
    Nvapi loaded;
    if (query != nullptr) {
        loaded.library = library;
        loaded.initialize = Query<InitializeFunction>(query, InitializeId);
        loaded.enumerate = Query<EnumFunction>(query, EnumPhysicalGpusId);
        loaded.memory = Query<MemoryFunction>(query, GetMemoryInfoId);
    }
    if (loaded.initialize == nullptr || loaded.enumerate == nullptr || loaded.memory == nullptr) {
        Platform::UnloadDynamicLibrary(library);
        return false;
    }
    nvapi = loaded;
    return true;
}

} // namespace

bool OpenDriver(void*& first, void*& second) {
    if (!Load()) return false;
    if (nvapi.initialize() != 0) return false;
    void* handles[MaxPhysicalGpus] = {};
    std::uint32_t count = 0;
    if (nvapi.enumerate(handles, &count) != 0) return false;
    first = handles[0];
    second = handles[1];
    return true;
}

bool QueryMemory(void* gpu, GpuMemory& memory) {
    memory = GpuMemory();
    if (nvapi.memory == nullptr) return false;
    MemoryInfoV2 info{};
    info.version = MemoryInfoV2Version;
    if (nvapi.memory(gpu, &info) != 0) return false;
    memory.dedicatedVideoMemory = info.dedicatedVideoMemory;
    memory.availableDedicatedVideoMemory = info.availableDedicatedVideoMemory;
    memory.systemVideoMemory = info.systemVideoMemory;
    memory.sharedSystemMemory = info.sharedSystemMemory;
    memory.currentAvailableDedicatedVideoMemory = info.curAvailableDedicatedVideoMemory;
    return true;
}

} // namespace Marvane::Graphics::Detail
