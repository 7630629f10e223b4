#include "Marvane/JobSystem.h"

#include "Core/MonitorLink.h"
#include "JobSystem/JobQueue.h"
#include "Platform/WorkerThread.h"

#include <atomic>
#include <cassert>
#include <new>

namespace Marvane::Platform {

using Detail::JobQueue;

namespace {

constexpr ContextInfo QueueNewContext{__FILE__, __LINE__, "Marvane::Queue<void *>::operator new"};
constexpr ContextInfo QueueDeleteContext{__FILE__, __LINE__, "Marvane::Queue<void *>::operator delete"};

// The job system whose worker runs on this thread, if any: Stop called there would wait for itself.
thread_local const JobSystem* workerOf = nullptr;

void* AllocateObject(std::size_t size, AllocationCategory::Enum category, const char* function) {
    return GetAllocator()->Alloc(size, category, ContextInfo{__FILE__, __LINE__, function});
}

void ReleaseObject(void* p, const char* function) {
    GetAllocator()->Free(p, ContextInfo{__FILE__, __LINE__, function});
}

// The queue pointer is written by the owner's Init while other threads may already call Schedule.
JobQueue* LoadQueue(Queue<void*>* const& field) {
    Queue<void*>* queue = std::atomic_ref<Queue<void*>* const>(field).load(std::memory_order_acquire);
    return static_cast<JobQueue*>(queue);
}

void StoreQueue(Queue<void*>*& field, JobQueue* queue) {
    std::atomic_ref<Queue<void*>*>(field).store(queue, std::memory_order_release);
}

// Counts a Schedule or ExecuteJob call in progress (debug builds), so that destruction can assert that
// no other thread still uses the queue.
class CallInFlight {
  public:
    explicit CallInFlight([[maybe_unused]] JobQueue& queue)
#if !defined(NDEBUG)
        : m_queue(queue) {
        m_queue.callsInFlight.fetch_add(1);
    }
    ~CallInFlight() {
        m_queue.callsInFlight.fetch_sub(1);
    }

  private:
    JobQueue& m_queue;
#else
    {
    }
#endif
};

// A wake-up of the worker. Calls that reach the thread before its thread-start function has run are
// only counted, and run once it has.
void RunOneJob(void* context) {
    auto& queue = *static_cast<JobQueue*>(context);
    if (!queue.workerStarted) {
        ++queue.wakesBeforeStart;
        return;
    }
    Detail::ExecuteOne(queue);
}

void WorkerEntry(void* system) {
    static_cast<JobSystem*>(system)->WorkerThreadMain();
}

} // namespace

namespace Detail {

JobQueue::JobQueue(JobSystem* creator) : owner(creator), wakeUpCall{RunOneJob, this} {}

bool WakeWorker(JobQueue& queue) {
    return Platform::Detail::QueueWakeUp(queue.wakeTarget, queue.wakeUpCall);
}

void ExecuteOne(JobQueue& queue) {
    const JobSystem::PriorityFunction priority = queue.priority.load(std::memory_order_acquire);
    void* job = nullptr;
    const bool taken = queue.TakeBest(
        [priority](void* candidate) { return priority != nullptr ? priority(candidate) : 0u; }, job);
    const JobSystem::ExecuteFunction execute = queue.execute.load(std::memory_order_acquire);
    if (taken && job != nullptr && execute != nullptr) execute(job);
}

} // namespace Detail

JobSystem::JobSystem()
    : m_name{}, m_execute(nullptr), m_threadStart(nullptr), m_priority(nullptr), m_queue(nullptr),
      m_running(false), m_stopEvent(nullptr), m_stoppedEvent(nullptr), m_workerThread(nullptr)
#if !defined(_WIN32)
      ,
      m_wakeCounter(nullptr)
#endif
{
}

JobSystem::~JobSystem() {
    assert(workerOf != this && "a job system destroyed from inside one of its own jobs");
    Stop();
    ReleaseQueue();
}

JobSystem& JobSystem::operator=(const JobSystem& other) {
    if (this == &other) return *this;
    JobQueue* const mine = LoadQueue(m_queue);
    JobQueue* const theirs = LoadQueue(other.m_queue);
    // Already sharing the queue: the owner's own fields are the ones that describe the worker.
    if (mine != nullptr && mine == theirs && mine->owner.load() == this) return *this;
    assert(workerOf != this && "a job system assigned to from inside one of its own jobs");
    if (theirs != nullptr) theirs->holders.fetch_add(1, std::memory_order_relaxed);
    // What this object held before goes as if it were destroyed: its own worker is stopped.
    Stop();
    ReleaseQueue();

    for (unsigned i = 0; i < NameCapacity; ++i)
        m_name[i] = other.m_name[i];
    m_execute = other.m_execute;
    m_threadStart = other.m_threadStart;
    m_priority = other.m_priority;
    StoreQueue(m_queue, theirs);
    m_running = other.m_running;
    m_stopEvent = other.m_stopEvent;
    m_stoppedEvent = other.m_stoppedEvent;
    m_workerThread = other.m_workerThread;
#if !defined(_WIN32)
    m_wakeCounter = other.m_wakeCounter;
#endif
    return *this;
}

Error::Enum JobSystem::Init(const wchar_t* name, ExecuteFunction execute, ThreadStartFunction threadStart,
                            PriorityFunction priority) {
    JobQueue* queue = LoadQueue(m_queue);
    // A second Init would orphan the running worker.
    if (queue != nullptr && queue->owner.load() == this && m_running) return Error::InvalidState;
    // A copy starts a worker of its own and leaves the one it shared to its owner.
    if (queue != nullptr && queue->owner.load() != this) {
        ReleaseQueue();
        queue = nullptr;
    }
    m_running = false;

    unsigned length = 0;
    if (name != nullptr)
        for (; length < NameCapacity - 1 && name[length] != L'\0'; ++length)
            m_name[length] = name[length];
    m_name[length] = L'\0';
    m_execute = execute;
    m_threadStart = threadStart;
    m_priority = priority;

    // The queue comes first: the ownership that copies must see lives in it, so no worker may run
    // without one. A queue from an earlier Init is kept (other threads may still be inside it).
    if (queue == nullptr) {
        void* storage = GetAllocator()->Alloc(sizeof(JobQueue), AllocationCategory::Generic, QueueNewContext);
        if (storage == nullptr) return Error::OutOfMemory;
        queue = new (storage) JobQueue(this);
        const Error::Enum result = queue->Initialize(QueueCapacity);
        if (result != Error::Ok) {
            queue->~JobQueue();
            GetAllocator()->Free(queue, QueueDeleteContext);
            return result;
        }
        StoreQueue(m_queue, queue);
    }
    queue->execute.store(execute, std::memory_order_release);
    queue->priority.store(priority, std::memory_order_release);

    const Error::Enum started = StartWorker();
    if (started != Error::Ok) return started;
    {
        ScopedCriticalSection gate(queue->gate);
        queue->wakeTarget = WakeTarget();
        queue->accepting = true;
    }
    m_running = true;
    return Error::Ok;
}

// Gives up this object's hold on its queue; the last holder releases it. An owner that goes leaves its
// copies a queue that accepts nothing.
void JobSystem::ReleaseQueue() {
    JobQueue* queue = LoadQueue(m_queue);
    if (queue == nullptr) return;
    StoreQueue(m_queue, nullptr);
    m_running = false;
    JobSystem* self = this;
    if (queue->owner.compare_exchange_strong(self, nullptr)) {
        ScopedCriticalSection gate(queue->gate);
        queue->accepting = false;
        queue->wakeTarget = nullptr;
    }
    if (queue->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
#if !defined(NDEBUG)
    assert(queue->callsInFlight.load() == 0 && "a job system destroyed while another thread calls it");
#endif
    queue->~JobQueue();
    GetAllocator()->Free(queue, QueueDeleteContext);
}

bool JobSystem::Schedule(void* job) {
    JobQueue* queue = LoadQueue(m_queue);
    if (queue == nullptr) return false;
    CallInFlight call(*queue);
    ScopedCriticalSection gate(queue->gate);
    if (!queue->accepting || !queue->Push(job)) return false;
    return Detail::WakeWorker(*queue);
}

void JobSystem::ExecuteJob() {
    JobQueue* queue = LoadQueue(m_queue);
    if (queue == nullptr) return;
    CallInFlight call(*queue);
    Detail::ExecuteOne(*queue);
}

Error::Enum JobSystem::Stop() {
    // On the worker itself (a job, the thread-start function) the wait below would never end.
    if (workerOf == this) return Error::InvalidState;
    JobQueue* queue = LoadQueue(m_queue);
    if (queue == nullptr || queue->owner.load() != this || !m_running) return Error::InvalidState;
    {
        // From here on Schedule refuses; every job it accepted before has its wake-up queued.
        ScopedCriticalSection gate(queue->gate);
        queue->accepting = false;
        queue->wakeTarget = nullptr;
    }
    EndWorker();
    m_running = false;
    return Error::Ok;
}

void JobSystem::WorkerThreadMain() {
    workerOf = this;
    Marvane::Detail::RegisterCurrentThread(m_name);
    if (m_threadStart != nullptr) m_threadStart();
    RunUntilStopped();
    workerOf = nullptr;
}

// The worker through the platform layer. The wake counter is a field of the POSIX build only (the
// fields of the Windows build are fixed); there the platform functions get null for it.

Error::Enum JobSystem::StartWorker() {
#if defined(_WIN32)
    void* wakeCounter = nullptr;
#else
    void*& wakeCounter = m_wakeCounter;
#endif
    const Error::Enum created =
        Platform::Detail::CreateWorkerSignals(m_stopEvent, m_stoppedEvent, wakeCounter);
    if (created != Error::Ok) return created;
    // Set before the thread exists, read and written only on the worker from then on.
    JobQueue& queue = *LoadQueue(m_queue);
    queue.workerStarted = false;
    queue.wakesBeforeStart = 0;
    // No wait for the worker to start: Init may run under the loader lock (a client's DllMain or global
    // constructor), where a new thread cannot start until the lock is released.
    if (!Platform::Detail::StartThread(WorkerEntry, this, m_workerThread)) {
        Platform::Detail::CloseWorkerSignals(m_stopEvent, m_stoppedEvent, wakeCounter);
        return Error::Unknown;
    }
    return Error::Ok;
}

void* JobSystem::WakeTarget() const {
#if defined(_WIN32)
    return Platform::Detail::WakeUpTarget(m_workerThread, nullptr);
#else
    return Platform::Detail::WakeUpTarget(m_workerThread, m_wakeCounter);
#endif
}

void JobSystem::RunUntilStopped() {
    JobQueue& queue = *LoadQueue(m_queue);
    queue.workerStarted = true;
    for (; queue.wakesBeforeStart > 0; --queue.wakesBeforeStart)
        Detail::ExecuteOne(queue);
#if defined(_WIN32)
    void* const wakeCounter = nullptr;
#else
    void* const wakeCounter = m_wakeCounter;
#endif
    Platform::Detail::RunWakeUpsUntilStopped(m_stopEvent, m_stoppedEvent, wakeCounter, queue.wakeUpCall);
}

void JobSystem::EndWorker() {
    Platform::Detail::StopWorker(m_stopEvent, m_stoppedEvent);
    Platform::Detail::ReleaseEndingThread(m_workerThread);
#if defined(_WIN32)
    void* wakeCounter = nullptr;
#else
    void*& wakeCounter = m_wakeCounter;
#endif
    Platform::Detail::CloseWorkerSignals(m_stopEvent, m_stoppedEvent, wakeCounter);
}

void* JobSystem::operator new(std::size_t size) noexcept {
    return AllocateObject(size, AllocationCategory::Generic, "Marvane::Platform::JobSystem::operator new");
}

void* JobSystem::operator new(std::size_t size, AllocationCategory::Enum category) noexcept {
    return AllocateObject(size, category, "Marvane::Platform::JobSystem::operator new");
}

void* JobSystem::operator new[](std::size_t size) noexcept {
    return AllocateObject(size, AllocationCategory::Generic, "Marvane::Platform::JobSystem::operator new[]");
}

void* JobSystem::operator new[](std::size_t size, AllocationCategory::Enum category) noexcept {
    return AllocateObject(size, category, "Marvane::Platform::JobSystem::operator new[]");
}

void JobSystem::operator delete(void* p) {
    ReleaseObject(p, "Marvane::Platform::JobSystem::operator delete");
}

void JobSystem::operator delete(void* p, AllocationCategory::Enum) {
    ReleaseObject(p, "Marvane::Platform::JobSystem::operator delete");
}

void JobSystem::operator delete[](void* p) {
    ReleaseObject(p, "Marvane::Platform::JobSystem::operator delete[]");
}

void JobSystem::operator delete[](void* p, AllocationCategory::Enum) {
    ReleaseObject(p, "Marvane::Platform::JobSystem::operator delete[]");
}

} // namespace Marvane::Platform
