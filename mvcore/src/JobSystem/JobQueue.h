#pragma once

#include "Marvane/JobSystem.h"
#include "Marvane/Platform/CriticalSection.h"
#include "Marvane/Queue.h"
#include "Platform/WorkerThread.h"

#include <atomic>
#include <cstdint>

namespace Marvane::Platform::Detail {

// What a JobSystem's queue pointer points at: the queue of waiting jobs, and with it everything that a
// copy of the JobSystem (the copy assignment copies every field, the queue pointer included) must see
// to use the same worker safely: which object owns the worker, whether jobs are accepted, how to wake
// the worker, and how many JobSystem objects refer to this block.
//
// Only the owner starts and stops the worker; the block is released when the last object referring to
// it goes. It outlives every Stop and later Init of its owner, so ExecuteJob and Schedule on other
// threads never meet a queue that is being freed.
struct JobQueue : Queue<void*> {
    explicit JobQueue(JobSystem* creator);

    // Schedule holds it from the acceptance check until the wake-up is queued, and Stop takes it to close
    // the queue: a Schedule that returned true has woken the worker before the worker is told to stop.
    CriticalSection gate;
    bool accepting = false;        // under the gate
    void* wakeTarget = nullptr;    // under the gate: the counting event (POSIX) or the worker thread (Win32)
    std::atomic<JobSystem*> owner; // the object that started the worker; null once it is gone
    std::atomic<std::uint32_t> holders{1};
    std::atomic<JobSystem::ExecuteFunction> execute{nullptr};
    std::atomic<JobSystem::PriorityFunction> priority{nullptr};
    // What each wake-up of the worker runs: one job of this queue. Carried by the wake-ups themselves
    // (Windows), so it lives as long as the queue.
    Platform::Detail::WakeUpCall wakeUpCall;
    // Worker-side only (set by the owner before the worker exists): whether the worker has run its
    // thread-start function, and wake-ups that reached the thread before that (Windows delivers calls
    // queued to a new thread while it starts up, before its start routine), to run afterwards.
    bool workerStarted = false;
    std::uint32_t wakesBeforeStart = 0;
#if !defined(NDEBUG)
    // Schedule and ExecuteJob calls in progress, to catch destruction while another thread calls.
    std::atomic<int> callsInFlight{0};
#endif
};

// Takes the best waiting job and runs it on the calling thread.
void ExecuteOne(JobQueue& queue);

// Queues one wake-up of the worker; called with the gate held and the queue accepting.
bool WakeWorker(JobQueue& queue);

} // namespace Marvane::Platform::Detail
