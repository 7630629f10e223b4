#include "Marvane/JobSystem.h"

#include "Core/MonitorLink.h"
#include "Marvane/Queue.h"

#include <atomic>
#include <new>

namespace Marvane::Platform {
namespace {

constexpr ContextInfo QueueNewContext{__FILE__, __LINE__, "Marvane::Queue<void *>::operator new"};
constexpr ContextInfo QueueDeleteContext{__FILE__, __LINE__, "Marvane::Queue<void *>::operator delete"};

void* AllocateObject(std::size_t size, AllocationCategory::Enum category, const char* function) {
    return GetAllocator()->Alloc(size, category, ContextInfo{__FILE__, __LINE__, function});
}

void ReleaseObject(void* p, const char* function) {
    GetAllocator()->Free(p, ContextInfo{__FILE__, __LINE__, function});
}

} // namespace

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
    Stop();
    ReleaseQueue();
}

// Schedule may run on other threads while the owner stops the system.
bool JobSystem::IsRunning() const {
    return std::atomic_ref<bool>(const_cast<bool&>(m_running)).load(std::memory_order_acquire);
}

void JobSystem::SetRunning(bool running) {
    std::atomic_ref<bool>(m_running).store(running, std::memory_order_release);
}

Error::Enum JobSystem::Init(const wchar_t* name, ExecuteFunction execute, ThreadStartFunction threadStart,
                            PriorityFunction priority) {
    // A second Init would orphan the running worker and its queue.
    if (IsRunning()) return Error::InvalidState;
    unsigned length = 0;
    if (name != nullptr)
        for (; length < NameCapacity - 1 && name[length] != L'\0'; ++length)
            m_name[length] = name[length];
    m_name[length] = L'\0';
    m_execute = execute;
    m_threadStart = threadStart;
    m_priority = priority;

    const Error::Enum started = StartWorker();
    if (started != Error::Ok) return started;
    SetRunning(true);

    ReleaseQueue();
    void* storage = GetAllocator()->Alloc(sizeof(Queue<void*>), AllocationCategory::Generic, QueueNewContext);
    if (storage == nullptr) return Error::OutOfMemory;
    auto* queue = new (storage) Queue<void*>();
    const Error::Enum result = queue->Initialize(QueueCapacity);
    std::atomic_ref<Queue<void*>*>(m_queue).store(queue, std::memory_order_release);
    return result;
}

void JobSystem::ReleaseQueue() {
    if (m_queue == nullptr) return;
    m_queue->~Queue();
    GetAllocator()->Free(m_queue, QueueDeleteContext);
    m_queue = nullptr;
}

bool JobSystem::Schedule(void* job) {
    if (!IsRunning()) return false;
    Queue<void*>* queue = std::atomic_ref<Queue<void*>*>(m_queue).load(std::memory_order_acquire);
    if (queue == nullptr || !queue->Push(job)) return false;
    return Wake();
}

void JobSystem::ExecuteJob() {
    Queue<void*>* queue = std::atomic_ref<Queue<void*>*>(m_queue).load(std::memory_order_acquire);
    if (queue == nullptr) return;
    const PriorityFunction priority = m_priority;
    void* job = nullptr;
    const bool taken = queue->TakeBest(
        [priority](void* candidate) { return priority != nullptr ? priority(candidate) : 0u; }, job);
    if (taken && job != nullptr && m_execute != nullptr) m_execute(job);
}

Error::Enum JobSystem::Stop() {
    if (!IsRunning()) return Error::InvalidState;
    EndWorker();
    SetRunning(false);
    return Error::Ok;
}

void JobSystem::WorkerThreadMain() {
    Detail::RegisterCurrentThread(m_name);
    if (m_threadStart != nullptr) m_threadStart();
    RunUntilStopped();
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
