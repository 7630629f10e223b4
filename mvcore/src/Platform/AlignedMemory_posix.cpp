#include "Marvane/Platform/Memory.h"

#include <cstdlib>

namespace Marvane::Platform {

void* AlignedAlloc(u64 size, u64 alignment) {
    if (alignment == 0 || (alignment & (alignment - 1)) != 0) return nullptr;
    // posix_memalign wants at least the alignment of a pointer; any power of two above is the same.
    if (alignment < sizeof(void*)) alignment = sizeof(void*);
    void* block = nullptr;
    return posix_memalign(&block, alignment, size) == 0 ? block : nullptr;
}

void AlignedFree(void* block) {
    std::free(block);
}

} // namespace Marvane::Platform
