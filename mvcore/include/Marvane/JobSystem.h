#pragma once

#include "Marvane/Allocator.h"
#include "Marvane/Error.h"
#include "Marvane/Export.h"

#include <cstddef>
#include <cstdint>

namespace Marvane {
template <class T> class Queue;
}

namespace Marvane::Platform {

// Runs client jobs (opaque pointers) on one dedicated worker thread. Each successful Schedule wakes
// the worker once, and each wake-up runs the highest-priority job waiting at that moment.
//
// Schedule and ExecuteJob may be called from any thread, also from inside jobs. Init, Stop, assignment
// and destruction belong to the owner. Destroying a job system from inside one of its own jobs, or while
// another thread still calls it, is the caller's error (debug builds assert on it).
//
// Copies: the copy assignment copies every field, the queue pointer included, so a copy schedules onto
// the same worker. The worker stays with the object that started it: only that object stops it (a
// copy's Stop returns InvalidState), and the queue is released when the last object referring to it
// goes. Assigning to an object that runs its own worker stops that worker first. The fields and this
// copy assignment are part of the binary interface and stay as they are; the system calls behind the
// events and the thread are the platform layer's.
class MARVANE_API JobSystem {
  public:
    using ExecuteFunction = void (*)(void* job);
    using ThreadStartFunction = void (*)();
    using PriorityFunction = unsigned int (*)(void* job);

    static constexpr unsigned NameCapacity = 128;
    static constexpr std::uint32_t QueueCapacity = 1024;

    JobSystem();
    ~JobSystem();
    JobSystem(const JobSystem&) = delete;
    JobSystem& operator=(const JobSystem& other);

    // Starts the worker. `name` (at most 127 characters are kept) names its thread in the
    // performance monitor; `threadStart` runs once on the worker before any job; `priority` rates a
    // job, larger first. Returns without waiting for the worker (so it may run under a loader lock);
    // jobs scheduled at once still run after `threadStart`. OutOfMemory when the queue cannot be had (no
    // worker is started then); Unknown when the system refuses an event or the thread; InvalidState when
    // already running.
    Error::Enum Init(const wchar_t* name, ExecuteFunction execute, ThreadStartFunction threadStart,
                     PriorityFunction priority);

    // Queues `job` and wakes the worker. True means the job runs exactly once. False when not running
    // (also once Stop has begun), when 1024 jobs already wait, or when the wake-up could not be queued
    // (the job then runs with a later wake-up).
    bool Schedule(void* job);

    // Takes the highest-priority waiting job, if any, and runs it on the calling thread.
    void ExecuteJob();

    // Runs every job already accepted, then ends the worker. InvalidState when not running, when this
    // object is a copy that does not own the worker, or when called on the worker itself (from a job or
    // from the thread-start function), where waiting for the worker to end would never return.
    Error::Enum Stop();

    // Body of the worker thread.
    void WorkerThreadMain();

    // JobSystem objects live in allocator memory (category Generic unless given).
    static void* operator new(std::size_t size) noexcept;
    static void* operator new(std::size_t size, AllocationCategory::Enum category) noexcept;
    static void* operator new[](std::size_t size) noexcept;
    static void* operator new[](std::size_t size, AllocationCategory::Enum category) noexcept;
    static void operator delete(void* p);
    static void operator delete(void* p, AllocationCategory::Enum category);
    static void operator delete[](void* p);
    static void operator delete[](void* p, AllocationCategory::Enum category);

  private:
    // The worker through the platform layer: events and thread, the worker's wait, the shutdown.
    Error::Enum StartWorker();
    void* WakeTarget() const;
    void RunUntilStopped();
    void EndWorker();

    void ReleaseQueue();

    wchar_t m_name[NameCapacity];
    ExecuteFunction m_execute;
    ThreadStartFunction m_threadStart;
    PriorityFunction m_priority;
    Queue<void*>* m_queue;
    bool m_running;
    void* m_stopEvent;
    void* m_stoppedEvent;
    void* m_workerThread;
#if !defined(_WIN32)
    // Without per-thread asynchronous procedure calls, a counting wake-up waited on together with the
    // stop event carries one wake-up per Schedule.
    void* m_wakeCounter;
#endif
};

} // namespace Marvane::Platform
