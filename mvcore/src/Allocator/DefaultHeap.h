#pragma once

#include <cstdint>
#include <cstdlib>

namespace Marvane::Detail {

// The run-time heap behind DefaultAllocator's plain blocks, inline so that the allocator's front end
// reaches it without a call through the DefaultAllocator.
inline void* HeapAlloc(std::uint64_t size) {
    return std::malloc(static_cast<std::size_t>(size));
}

inline void HeapFree(void* block) {
    std::free(block);
}

} // namespace Marvane::Detail
