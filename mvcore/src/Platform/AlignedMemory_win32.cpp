#include "Marvane/Platform/Memory.h"

#include <malloc.h>

namespace Marvane::Platform {

void* AlignedAlloc(u64 size, u64 alignment) {
    if (alignment == 0 || (alignment & (alignment - 1)) != 0) return nullptr;
    return _aligned_malloc(size, alignment);
}

void AlignedFree(void* block) {
    _aligned_free(block);
}

} // namespace Marvane::Platform
