#pragma once

#include "Marvane/Error.h"
#include "Marvane/Export.h"

namespace Marvane::Platform {

// Loads a shared library (a DLL on Windows, a shared object elsewhere). The handle is null on failure,
// which returns Unknown.
MARVANE_API Error::Enum LoadDynamicLibrary(const wchar_t* path, void*& handle);

// Looks up an exported symbol. The address is null, and the result Unknown, when the symbol is absent,
// when the name cannot be converted to a narrow name of at most 2046 bytes, or when the handle is null.
// A null `address` is InvalidParameter.
MARVANE_API Error::Enum GetDynamicLibraryProcAddress(void* handle, const wchar_t* name, void (**address)());

// Unloads a library loaded with LoadDynamicLibrary; Unknown on failure (a null handle included).
MARVANE_API Error::Enum UnloadDynamicLibrary(void* handle);

} // namespace Marvane::Platform
