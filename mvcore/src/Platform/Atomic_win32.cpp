#include <windows.h>

#include "Marvane/Platform/Atomic.h"

#include <atomic>
// The fence instructions need SSE (sfence) and SSE2 (lfence); a 32-bit build for processors without
// them falls back to a full fence, which orders loads and stores alike.
#if defined(_M_X64) || defined(__x86_64__) || defined(__SSE2__) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define MARVANE_X86_FENCES 1
#endif

#pragma push_macro("InterlockedAdd")
#undef InterlockedAdd

namespace Marvane::Platform {

namespace {

static_assert(sizeof(int) == sizeof(LONG) && sizeof(i64) == sizeof(LONG64), "interlocked operand sizes");

volatile LONG* AsLong(int& target) {
    return reinterpret_cast<volatile LONG*>(&target);
}
volatile LONG64* AsLong64(i64& target) {
    return reinterpret_cast<volatile LONG64*>(&target);
}

// The sum is formed in unsigned arithmetic so that overflow wraps as the processor's does.
int Wrapped(LONG before, int amount) {
    return static_cast<int>(static_cast<unsigned>(before) + static_cast<unsigned>(amount));
}

} // namespace

int InterlockedAdd(int& target, int amount) {
    return Wrapped(InterlockedExchangeAdd(AsLong(target), amount), amount);
}
int InterlockedInc(int& target) {
    return InterlockedIncrement(AsLong(target));
}
int InterlockedDec(int& target) {
    return InterlockedDecrement(AsLong(target));
}
i64 InterlockedInc64(i64& target) {
    return InterlockedIncrement64(AsLong64(target));
}
i64 InterlockedDec64(i64& target) {
    return InterlockedDecrement64(AsLong64(target));
}

// The compiler fence keeps the optimiser from moving accesses across; the processor fence orders
// the accesses that x86 may otherwise reorder (non-temporal ones included).
void LoadMemoryFence() {
    std::atomic_thread_fence(std::memory_order_acquire);
#ifdef MARVANE_X86_FENCES
    _mm_lfence();
#else
    std::atomic_thread_fence(std::memory_order_seq_cst);
#endif
}

void StoreMemoryFence() {
#ifdef MARVANE_X86_FENCES
    _mm_sfence();
#else
    std::atomic_thread_fence(std::memory_order_seq_cst);
#endif
    std::atomic_thread_fence(std::memory_order_release);
}

} // namespace Marvane::Platform

#pragma pop_macro("InterlockedAdd")
