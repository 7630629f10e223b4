#include "PerformanceMonitor/DeferredCounters.h"

#include "Marvane/Platform/CriticalSection.h"

#include <new>

namespace Marvane::Performance::Detail {

namespace {

// Guards the list of threads, the amounts of ended threads, the collected sums and the bindings. Made on
// first use (allocations may come while other libraries and the client are still being initialised) and
// never destroyed (threads may end after the static destructors have run).
Platform::CriticalSection& RegistryLock() {
    alignas(Platform::CriticalSection) static unsigned char storage[sizeof(Platform::CriticalSection)];
    static Platform::CriticalSection* const lock = new (storage) Platform::CriticalSection();
    return *lock;
}

using Held = Platform::ScopedCriticalSection;

constinit ThreadSlots* threads = nullptr;
constinit std::uint64_t endedThreads[DeferredSlots] = {};
// The statistics of each slot, stored plus one so that the zero-initialised table means "unbound".
constinit std::uint32_t bindingsPlusOne[DeferredSlots][2] = {};

// Set once the calling thread's slots have been destroyed at its exit.
thread_local bool slotsEnded = false;

} // namespace

constinit std::atomic<bool> deferredCountersDirect{false};
constinit thread_local ThreadSlots* currentThreadSlots MARVANE_FAST_THREAD_LOCAL = nullptr;

ThreadSlots::ThreadSlots() : added{}, collected{}, next(nullptr), previous(nullptr) {
    Held held(RegistryLock());
    next = threads;
    if (threads != nullptr) threads->previous = this;
    threads = this;
}

ThreadSlots::~ThreadSlots() {
    Held held(RegistryLock());
    for (unsigned slot = 0; slot < DeferredSlots; ++slot)
        endedThreads[slot] += added[slot].load(std::memory_order_relaxed) - collected[slot];
    if (previous != nullptr) previous->next = next;
    if (next != nullptr) next->previous = previous;
    if (threads == this) threads = next;
    currentThreadSlots = nullptr;
    slotsEnded = true;
}

ThreadSlots* AttachCurrentThread() {
    // Destructors of other thread-local objects may still allocate after these slots are gone.
    if (slotsEnded) return nullptr;
    thread_local ThreadSlots slots;
    currentThreadSlots = &slots;
    return &slots;
}

void BindDeferredSlot(unsigned slot, std::uint32_t first, std::uint32_t second) {
    if (slot >= DeferredSlots) return;
    Held held(RegistryLock());
    bindingsPlusOne[slot][0] = first + 1;
    bindingsPlusOne[slot][1] = second + 1;
}

unsigned CollectDeferred(DeferredDelta (&deltas)[DeferredSlots]) {
    Held held(RegistryLock());
    unsigned count = 0;
    for (unsigned slot = 0; slot < DeferredSlots; ++slot) {
        const std::uint32_t first = bindingsPlusOne[slot][0] - 1;
        const std::uint32_t second = bindingsPlusOne[slot][1] - 1;
        // Amounts of a slot that is not bound yet stay where they are until it is.
        if (first == Unbound && second == Unbound) continue;
        std::uint64_t sum = endedThreads[slot];
        endedThreads[slot] = 0;
        for (ThreadSlots* thread = threads; thread != nullptr; thread = thread->next) {
            const std::uint64_t now = thread->added[slot].load(std::memory_order_relaxed);
            sum += now - thread->collected[slot];
            thread->collected[slot] = now;
        }
        if (sum == 0) continue;
        deltas[count++] = {static_cast<std::int64_t>(sum), {first, second}};
    }
    return count;
}

} // namespace Marvane::Performance::Detail
