#include "coder/zeroed_memory.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {
constexpr size_t kHugePageBytes = size_t{2} << 20;
}

void* allocate_zero_pages(size_t bytes) {
    if (bytes == 0) bytes = 1;
#ifdef _WIN32
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
        // The slot table's probabilities (megabytes, touched here and there by every stream) in huge pages
        // where the system offers them: one fault and one 2 MiB clear instead of hundreds of faults, each
        // of which costs far more than clearing its page (a read maps the zero page, the first write
        // copies it). A hint only; without huge pages nothing changes.
#ifdef MADV_HUGEPAGE
    if (bytes >= kHugePageBytes) madvise(block, bytes, MADV_HUGEPAGE);
#endif
    return block;
#endif
}

void release_zero_pages(void* block, size_t bytes) {
    if (!block) return;
#ifdef _WIN32
    (void)bytes;
    VirtualFree(block, 0, MEM_RELEASE);
#else
    munmap(block, bytes == 0 ? 1 : bytes);
#endif
}
