#pragma once

#include "Marvane/Export.h"
#include "Marvane/Platform/Types.h"

namespace Marvane::Platform {

// A block of `size` bytes aligned to `alignment` (a power of two); null on failure or when the
// alignment is not a power of two. Release it with AlignedFree.
MARVANE_API void* AlignedAlloc(u64 size, u64 alignment);
MARVANE_API void AlignedFree(void* block);

// Fills `size` bytes with zero; copies `size` bytes between ranges that must not overlap.
MARVANE_API void MemoryClear(void* p, u64 size);
MARVANE_API void MemoryCopy(void* destination, const void* source, u64 size);

} // namespace Marvane::Platform
