#include "Marvane/Platform/Atomic.h"

#include <atomic>

namespace Marvane::Platform {

// The compiler's atomic built-ins wrap around on overflow instead of leaving it undefined.
int InterlockedAdd(int& target, int amount) {
    return __atomic_add_fetch(&target, amount, __ATOMIC_SEQ_CST);
}
int InterlockedInc(int& target) {
    return __atomic_add_fetch(&target, 1, __ATOMIC_SEQ_CST);
}
int InterlockedDec(int& target) {
    return __atomic_sub_fetch(&target, 1, __ATOMIC_SEQ_CST);
}
i64 InterlockedInc64(i64& target) {
    return __atomic_add_fetch(&target, 1, __ATOMIC_SEQ_CST);
}
i64 InterlockedDec64(i64& target) {
    return __atomic_sub_fetch(&target, 1, __ATOMIC_SEQ_CST);
}

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer does not model stand-alone fences. Under it each fence is a read-modify-write of one
// shared word instead, which orders the same accesses and which the sanitizer follows.
namespace {
int fenceWord = 0;
}
void LoadMemoryFence() {
    __atomic_fetch_add(&fenceWord, 0, __ATOMIC_ACQ_REL);
}
void StoreMemoryFence() {
    __atomic_fetch_add(&fenceWord, 0, __ATOMIC_ACQ_REL);
}
#else
void LoadMemoryFence() {
    std::atomic_thread_fence(std::memory_order_acquire);
}
void StoreMemoryFence() {
    std::atomic_thread_fence(std::memory_order_release);
}
#endif

} // namespace Marvane::Platform
