#include "Marvane/Platform/DynamicLibrary.h"
#include "String/Utf8.h"

#include <climits>
#include <dlfcn.h>

namespace Marvane::Platform {

namespace {

// Symbol names are converted into a buffer of this size, at most 2046 bytes and a NUL, as on Windows.
constexpr std::size_t SymbolBufferSize = 2048;
constexpr std::size_t SymbolCapacity = SymbolBufferSize - 1;

} // namespace

Error::Enum LoadDynamicLibrary(const wchar_t* path, void*& handle) {
    handle = nullptr;
    char narrowPath[PATH_MAX];
    if (!String::Detail::WideToUtf8(path, narrowPath, sizeof(narrowPath), String::Detail::InvalidUnits::Fail))
        return Error::Unknown;
    // Symbols are resolved at once so that a library with missing dependencies fails here, as a DLL
    // does, rather than at its first call.
    handle = dlopen(narrowPath, RTLD_NOW | RTLD_LOCAL);
    return handle != nullptr ? Error::Ok : Error::Unknown;
}

Error::Enum GetDynamicLibraryProcAddress(void* handle, const wchar_t* name, void (**address)()) {
    if (address == nullptr) return Error::InvalidParameter;
    *address = nullptr;
    // dlsym with a null handle would search the whole process; a Windows module handle never does.
    if (handle == nullptr) return Error::Unknown;
    char narrowName[SymbolBufferSize];
    if (!String::Detail::WideToUtf8(name, narrowName, SymbolCapacity, String::Detail::InvalidUnits::Fail))
        return Error::Unknown;
    void* symbol = dlsym(handle, narrowName);
    if (symbol == nullptr) return Error::Unknown;
    // POSIX guarantees that object and function pointers convert into each other.
    *address = reinterpret_cast<void (*)()>(symbol);
    return Error::Ok;
}

Error::Enum UnloadDynamicLibrary(void* handle) {
    if (handle == nullptr) return Error::Unknown;
    return dlclose(handle) == 0 ? Error::Ok : Error::Unknown;
}

} // namespace Marvane::Platform
