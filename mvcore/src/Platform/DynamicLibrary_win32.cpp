#include "Marvane/Platform/DynamicLibrary.h"

#include <cstdlib>
#include <windows.h>

namespace Marvane::Platform {

namespace {

// Export names are narrow: converted with the run-time library's current locale into a 2048-byte
// buffer, at most 2046 bytes and a NUL.
constexpr std::size_t SymbolBufferSize = 2048;
constexpr std::size_t SymbolCapacity = SymbolBufferSize - 1;

// False for a name that cannot be converted or does not fit; a cut-off name could find another symbol.
bool ToNarrowName(const wchar_t* name, char (&narrow)[SymbolBufferSize]) {
    if (name == nullptr) return false;
    const std::size_t length = std::wcstombs(narrow, name, SymbolCapacity);
    if (length == static_cast<std::size_t>(-1) || length >= SymbolCapacity) return false;
    narrow[length] = '\0';
    return true;
}

} // namespace

Error::Enum LoadDynamicLibrary(const wchar_t* path, void*& handle) {
    handle = path != nullptr ? static_cast<void*>(LoadLibraryW(path)) : nullptr;
    return handle != nullptr ? Error::Ok : Error::Unknown;
}

Error::Enum GetDynamicLibraryProcAddress(void* handle, const wchar_t* name, void (**address)()) {
    if (address == nullptr) return Error::InvalidParameter;
    *address = nullptr;
    char narrow[SymbolBufferSize];
    if (handle == nullptr || !ToNarrowName(name, narrow)) return Error::Unknown;
    const FARPROC symbol = GetProcAddress(static_cast<HMODULE>(handle), narrow);
    if (symbol == nullptr) return Error::Unknown;
    *address = reinterpret_cast<void (*)()>(reinterpret_cast<void*>(symbol));
    return Error::Ok;
}

Error::Enum UnloadDynamicLibrary(void* handle) {
    if (handle == nullptr) return Error::Unknown;
    return FreeLibrary(static_cast<HMODULE>(handle)) ? Error::Ok : Error::Unknown;
}

} // namespace Marvane::Platform
