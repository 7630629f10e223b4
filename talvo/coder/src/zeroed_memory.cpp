#include "coder/zeroed_memory.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

void* allocate_zero_pages(size_t bytes) {
    if (bytes == 0) bytes = 1;
#ifdef _WIN32
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
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
