#include "Platform/ProcessBarrier.h"

#include "Marvane/Platform/CriticalSection.h"

#include <atomic>
#include <new>
#include <sys/mman.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/membarrier.h>
#include <sys/syscall.h>
#endif

namespace Marvane::Platform::Detail {

namespace {

#if defined(__linux__)
bool RegisterExpeditedBarrier() {
    return syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}
#endif

// Where the system has no barrier call (or refuses it): taking write access away from a page that this
// process has just written makes the system interrupt every processor that may hold it in its
// translation cache, that is every processor running a thread of the process.
void BarrierThroughPageProtection() {
    alignas(CriticalSection) static unsigned char lockStorage[sizeof(CriticalSection)];
    static CriticalSection* const lock = new (lockStorage) CriticalSection();
    static void* const page = [] {
        void* mapped = mmap(nullptr, static_cast<std::size_t>(sysconf(_SC_PAGESIZE)), PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return mapped == MAP_FAILED ? nullptr : mapped;
    }();
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (page == nullptr) return;
    ScopedCriticalSection held(*lock);
    const auto size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    mprotect(page, size, PROT_READ | PROT_WRITE);
    static_cast<volatile unsigned char*>(page)[0] = 1;
    mprotect(page, size, PROT_READ);
}

} // namespace

void ProcessWideBarrier() {
#if defined(__linux__)
    static const bool expedited = RegisterExpeditedBarrier();
    if (expedited && syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) == 0) return;
#endif
    BarrierThroughPageProtection();
}

} // namespace Marvane::Platform::Detail
