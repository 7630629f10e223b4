#include "Marvane/Platform/Memory.h"

#include <cstring>

namespace Marvane::Platform {

// A size of 0 may come with null pointers, which memset and memcpy must not be given.
void MemoryClear(void* p, u64 size) {
    if (size != 0) std::memset(p, 0, size);
}

void MemoryCopy(void* destination, const void* source, u64 size) {
    if (size != 0) std::memcpy(destination, source, size);
}

} // namespace Marvane::Platform
