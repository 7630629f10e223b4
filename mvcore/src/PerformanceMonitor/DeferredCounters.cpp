#include "PerformanceMonitor/DeferredCounters.h"

#include "Marvane/Performance/PerformanceMonitor.h"
#include "Marvane/Platform/CriticalSection.h"
#include "Platform/ThreadExit.h"

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

constinit std::uint64_t endedThreads[DeferredSlots] = {};
// The statistics of each slot, stored plus one so that the zero-initialised table means "unbound".
constinit std::uint32_t bindingsPlusOne[DeferredSlots][2] = {};

// Slots for the threads that count, and the list of those in use. A slot goes back to the pool when its
// thread ends, after what it counted has been kept in endedThreads.
constinit ThreadSlots pool[MaxCountingThreads] = {};
constinit ThreadSlots* threads = nullptr;

// From the platform's thread-exit notification: on the ending thread, or on another one once it ended.
void DetachEndingThread(void* value) {
    auto* slots = static_cast<ThreadSlots*>(value);
    Held held(RegistryLock());
    for (unsigned slot = 0; slot < DeferredSlots; ++slot) {
        endedThreads[slot] += slots->added[slot].load(std::memory_order_relaxed) - slots->collected[slot];
        slots->added[slot].store(0, std::memory_order_relaxed);
        slots->collected[slot] = 0;
    }
    if (slots->previous != nullptr) slots->previous->next = slots->next;
    if (slots->next != nullptr) slots->next->previous = slots->previous;
    if (threads == slots) threads = slots->next;
    slots->next = slots->previous = nullptr;
    slots->inUse = false;
    // Whatever the ending thread allocates from here on updates the monitor directly.
    if (currentThreadSlots == slots) currentThreadSlots = reinterpret_cast<ThreadSlots*>(ThreadEndedMark);
}

} // namespace

constinit std::atomic<bool> deferredCountersDirect{false};
constinit thread_local ThreadSlots* currentThreadSlots MARVANE_FAST_THREAD_LOCAL = nullptr;

bool AttachCurrentThread() {
    if (currentThreadSlots != nullptr)
        return reinterpret_cast<std::uintptr_t>(currentThreadSlots) > ThreadEndedMark;
    ThreadSlots* slots = nullptr;
    {
        Held held(RegistryLock());
        for (ThreadSlots& candidate : pool) {
            if (candidate.inUse) continue;
            slots = &candidate;
            break;
        }
        if (slots == nullptr) return false;
        slots->inUse = true;
        slots->previous = nullptr;
        slots->next = threads;
        if (threads != nullptr) threads->previous = slots;
        threads = slots;
    }
    if (!Platform::Detail::CallAtThreadExit(DetachEndingThread, slots)) {
        // Without word of the thread's end the slots could never go back: they go back now, and this
        // thread updates the monitor directly.
        DetachEndingThread(slots);
        currentThreadSlots = reinterpret_cast<ThreadSlots*>(ThreadEndedMark);
        return false;
    }
    currentThreadSlots = slots;
    return true;
}

void CatchUpWithCaptureStart() {
    // Every query folds under the monitor's lock, writing a record for each amount it finds; it waits
    // for a capture start still under way, whose own fold may have found the amount already.
    GetPerformanceMonitor()->GetStatisticValue(0, StatisticValueMethod::Value);
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
