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
    // Copies every field as it is, handles and queue pointer included.
    JobSystem& operator=(const JobSystem&) = default;

    // Starts the worker. `name` (at most 127 characters are kept) names its thread in the
    // performance monitor; `threadStart` runs once on the worker before any job; `priority` rates a
    // job, larger first. Unknown when the system refuses an event or the thread; OutOfMemory when the
    // queue cannot be had (the worker then runs but every Schedule fails); InvalidState when already
    // running.
    Error::Enum Init(const wchar_t* name, ExecuteFunction execute, ThreadStartFunction threadStart,
                     PriorityFunction priority);

    // Queues `job` and wakes the worker. False when not running, when 1024 jobs already wait, or when
    // the wake-up could not be queued (the job then runs with a later wake-up).
    bool Schedule(void* job);

    // Takes the highest-priority waiting job, if any, and runs it on the calling thread.
    void ExecuteJob();

    // Runs what is already woken, then ends the worker. InvalidState when not running.
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
    // Platform part: events and thread, the wake-up, the worker's wait, the shutdown.
    Error::Enum StartWorker();
    bool Wake();
    void RunUntilStopped();
    void EndWorker();

    bool IsRunning() const;
    void SetRunning(bool running);
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
