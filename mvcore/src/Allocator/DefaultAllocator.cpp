#include "Marvane/Allocator.h"

#include "Allocator/DefaultHeap.h"

#include <cstdlib>
#if defined(_WIN32)
#include <malloc.h>
#endif

namespace Marvane {

void* DefaultAllocator::Alloc(std::uint64_t size, AllocationCategory::Enum, const ContextInfo&) {
    return Detail::HeapAlloc(size);
}

void DefaultAllocator::Free(void* block, const ContextInfo&) {
    Detail::HeapFree(block);
}

void* DefaultAllocator::AllocAligned(std::uint64_t size, std::uint32_t alignment, AllocationCategory::Enum,
                                     const ContextInfo&) {
    // Both run-time functions reject other alignments, the Windows one through the invalid-parameter
    // handler, which may end the process.
    if (alignment == 0 || (alignment & (alignment - 1)) != 0) return nullptr;
#if defined(_WIN32)
    return _aligned_malloc(static_cast<std::size_t>(size), alignment);
#else
    // posix_memalign wants at least pointer alignment; a smaller power of two is met by it anyway.
    void* block = nullptr;
    const std::size_t effective = alignment < sizeof(void*) ? sizeof(void*) : alignment;
    return posix_memalign(&block, effective, static_cast<std::size_t>(size)) == 0 ? block : nullptr;
#endif
}

void DefaultAllocator::FreeAligned(void* block, const ContextInfo&) {
#if defined(_WIN32)
    _aligned_free(block);
#else
    std::free(block);
#endif
}

void DefaultAllocator::ValidateHeap() {}

} // namespace Marvane
