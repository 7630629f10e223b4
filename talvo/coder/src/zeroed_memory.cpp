#include "coder/zeroed_memory.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

#ifndef _WIN32
constexpr size_t kHugePageBytes = size_t{2} << 20;
// The model area, the residue memory and the slot table's probabilities (hundreds of kilobytes to
// megabytes, touched here and there by every stream) are mapped in whole 2 MiB pages on a 2 MiB
// boundary and offered to the system as huge pages: one fault and one 2 MiB clear instead of up to 512
// faults, each of which costs more than clearing its page (a read maps the zero page, the first write
// copies it). Only a hint; without huge pages nothing changes but the unused tail of the last one.
constexpr size_t kHugePagesFrom = size_t{256} << 10;

size_t mapped_size(size_t bytes) {
    if (bytes == 0) return 1;
    return bytes < kHugePagesFrom ? bytes : (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
}

void* map_zero_pages(size_t size) {
    void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}
#endif

} // namespace

void* allocate_zero_pages(size_t bytes) {
#ifdef _WIN32
    return VirtualAlloc(nullptr, bytes == 0 ? 1 : bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
    const size_t size = mapped_size(bytes);
    if (size < kHugePagesFrom) return map_zero_pages(size);
    // One huge page more than needed, so that a 2 MiB boundary lies inside; what lies outside the
    // aligned block goes back at once.
    auto* raw = static_cast<uint8_t*>(map_zero_pages(size + kHugePageBytes));
    if (!raw) return nullptr;
    const uintptr_t at = reinterpret_cast<uintptr_t>(raw);
    const size_t head = (kHugePageBytes - at % kHugePageBytes) % kHugePageBytes;
    uint8_t* block = raw + head;
    if (head > 0) munmap(raw, head);
    if (kHugePageBytes - head > 0) munmap(block + size, kHugePageBytes - head);
#ifdef MADV_HUGEPAGE
    madvise(block, size, MADV_HUGEPAGE);
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
    munmap(block, mapped_size(bytes));
#endif
}
