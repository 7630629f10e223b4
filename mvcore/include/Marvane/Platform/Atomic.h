#pragma once

#include "Marvane/Export.h"
#include "Marvane/Platform/Types.h"

// <windows.h> defines InterlockedAdd as a macro on 64-bit targets. The declaration below is kept free
// of it so that the exported name is the same whichever headers a translation unit includes first.
#pragma push_macro("InterlockedAdd")
#undef InterlockedAdd

namespace Marvane::Platform {

// Sequentially consistent atomic read-modify-write operations; each returns the new value. Overflow
// wraps around in two's complement.
MARVANE_API int InterlockedAdd(int& target, int amount);
MARVANE_API int InterlockedInc(int& target);
MARVANE_API int InterlockedDec(int& target);
MARVANE_API i64 InterlockedInc64(i64& target);
MARVANE_API i64 InterlockedDec64(i64& target);

// No load is moved across a load fence, no store across a store fence.
MARVANE_API void LoadMemoryFence();
MARVANE_API void StoreMemoryFence();

} // namespace Marvane::Platform

#pragma pop_macro("InterlockedAdd")

#if defined(_WIN32)
namespace Marvane::Platform {
// Where <windows.h> is included as well (before or after this header), a call spelled
// Platform::InterlockedAdd is rewritten to this name, which forwards to the exported function.
inline int _InterlockedAdd(int& target, int amount) {
#pragma push_macro("InterlockedAdd")
#undef InterlockedAdd
    return InterlockedAdd(target, amount);
#pragma pop_macro("InterlockedAdd")
}
} // namespace Marvane::Platform
#endif
