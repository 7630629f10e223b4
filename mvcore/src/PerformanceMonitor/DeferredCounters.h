#pragma once

// Counter updates that each thread keeps to itself while no performance log is being captured, so that
// the hottest updates (the memory statistics, two per allocation and two per release) cost a thread-local
// add instead of the monitor's lock. The process-wide monitor folds them into its statistics before
// anything reads a value: every query, every Tick and the start of every capture, so the figures stay
// exact whatever thread made the updates. While a log is captured, updates go through the monitor
// again, so that each one is a record of its own at its place in the log.
//
// A slot is bound to up to two statistics, which both receive what is added to it.

#include <atomic>
#include <cstdint>

namespace Marvane::Performance::Detail {

inline constexpr unsigned DeferredSlots = 16;
inline constexpr std::uint32_t Unbound = 0xFFFFFFFFu;

// One thread's slots, taken from a fixed pool while the thread counts. Only the owning thread writes
// `added` (a running sum, wrapping); the collector reads it and remembers in `collected` how much it has
// already folded.
struct alignas(64) ThreadSlots {
    std::atomic<std::uint64_t> added[DeferredSlots];
    std::uint64_t collected[DeferredSlots];
    ThreadSlots* next;
    ThreadSlots* previous;
    bool inUse;
};

// Threads that count on their own at the same time; further threads update the monitor directly.
inline constexpr unsigned MaxCountingThreads = 256;

// Set while the process-wide monitor captures a log: updates then go through the monitor.
extern std::atomic<bool> deferredCountersDirect;

// The library is loaded with the program (or early with dlopen); the initial-exec model makes this
// pointer one instruction away instead of a call to __tls_get_addr on every update.
#if defined(__ELF__)
#define MARVANE_FAST_THREAD_LOCAL [[gnu::tls_model("initial-exec")]]
#else
#define MARVANE_FAST_THREAD_LOCAL
#endif
// The calling thread's slots: null until it first counts, ThreadEndedMark once it is ending (it then
// updates the monitor directly).
extern constinit thread_local ThreadSlots* currentThreadSlots MARVANE_FAST_THREAD_LOCAL;
inline constexpr std::uintptr_t ThreadEndedMark = 1;

// Gives the calling thread slots from the pool; false when none is free or the thread is ending.
bool AttachCurrentThread();

// A capture started while the calling thread was adding to its slots: has the process-wide monitor fold
// (and log) what that capture's start missed, before the thread goes on.
void CatchUpWithCaptureStart();

// Adds `amount` to `slot` on the calling thread. False when the caller must update the monitor itself:
// a log is being captured, the thread has no slots (the caller's slow path attaches it with
// AddDeferredAttaching), or the thread is ending.
inline bool AddDeferred(unsigned slot, std::int64_t amount) {
    ThreadSlots* slots = currentThreadSlots;
    if (reinterpret_cast<std::uintptr_t>(slots) <= ThreadEndedMark ||
        deferredCountersDirect.load(std::memory_order_relaxed))
        return false;
    std::atomic<std::uint64_t>& cell = slots->added[slot];
    cell.store(cell.load(std::memory_order_relaxed) + static_cast<std::uint64_t>(amount),
               std::memory_order_relaxed);
    // The start of a capture sets the flag, passes a process-wide barrier and then folds: either that
    // fold saw the amount, or the flag is seen here. In the second case the amount must reach the log
    // now, before anything this thread does next (or lets other threads do) is logged.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (deferredCountersDirect.load(std::memory_order_relaxed)) [[unlikely]]
        CatchUpWithCaptureStart();
    return true;
}

// AddDeferred that first gives the calling thread its slots if it has none.
inline bool AddDeferredAttaching(unsigned slot, std::int64_t amount) {
    if (currentThreadSlots == nullptr && !AttachCurrentThread()) return false;
    return AddDeferred(slot, amount);
}

// Binds `slot` to the statistics `first` and `second` (Unbound for none).
void BindDeferredSlot(unsigned slot, std::uint32_t first, std::uint32_t second);

struct DeferredDelta {
    std::int64_t amount;
    std::uint32_t statistics[2];
};

// Takes what every thread (and every thread that has ended) added to each bound slot since the last
// collection. Returns the number of entries written to `deltas` (at most DeferredSlots), skipping slots
// with nothing new. The process-wide monitor calls it under its lock.
unsigned CollectDeferred(DeferredDelta (&deltas)[DeferredSlots]);

} // namespace Marvane::Performance::Detail
