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

void LoadMemoryFence() {
    std::atomic_thread_fence(std::memory_order_acquire);
}
void StoreMemoryFence() {
    std::atomic_thread_fence(std::memory_order_release);
}

} // namespace Marvane::Platform
