#include "Marvane/JobSystem.h"

#include "JobSystem/JobQueue.h"

#include <windows.h>

// Every Schedule queues one asynchronous procedure call to the worker, which waits alertably on the
// stop event: pending calls are delivered before the wait can see the event, so jobs scheduled before
// Stop still run.

namespace Marvane::Platform {
namespace {

// Windows may deliver calls queued to a new thread while it starts up, before its start routine: those
// are only counted, and the worker runs them once its thread-start function has run.
VOID CALLBACK RunOneJob(ULONG_PTR address) {
    auto& queue = *reinterpret_cast<Detail::JobQueue*>(address);
    if (!queue.workerStarted) {
        ++queue.wakesBeforeStart;
        return;
    }
    Detail::ExecuteOne(queue);
}

DWORD WINAPI WorkerEntry(LPVOID system) {
    static_cast<JobSystem*>(system)->WorkerThreadMain();
    return 0;
}

void CloseIfOpen(void*& handle) {
    if (handle == nullptr) return;
    CloseHandle(handle);
    handle = nullptr;
}

} // namespace

Error::Enum JobSystem::StartWorker() {
    m_stopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_stoppedEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (m_stopEvent == nullptr || m_stoppedEvent == nullptr) {
        CloseIfOpen(m_stopEvent);
        CloseIfOpen(m_stoppedEvent);
        return Error::Unknown;
    }
    // Set before the thread exists, read and written only on the worker from then on.
    Detail::JobQueue& queue = *static_cast<Detail::JobQueue*>(m_queue);
    queue.workerStarted = false;
    queue.wakesBeforeStart = 0;
    // No wait for the worker to start: Init may run under the loader lock (a client's DllMain or global
    // constructor), where a new thread cannot start until the lock is released.
    m_workerThread = CreateThread(nullptr, 0, WorkerEntry, this, 0, nullptr);
    if (m_workerThread == nullptr) {
        CloseIfOpen(m_stopEvent);
        CloseIfOpen(m_stoppedEvent);
        return Error::Unknown;
    }
    return Error::Ok;
}

void* JobSystem::WakeTarget() const {
    return m_workerThread;
}

// The call carries the queue, which outlives the worker; the JobSystem that scheduled may be a copy.
bool Detail::WakeWorker(JobQueue& queue) {
    return QueueUserAPC(RunOneJob, queue.wakeTarget, reinterpret_cast<ULONG_PTR>(&queue)) != 0;
}

void JobSystem::RunUntilStopped() {
    Detail::JobQueue& queue = *static_cast<Detail::JobQueue*>(m_queue);
    queue.workerStarted = true;
    for (; queue.wakesBeforeStart > 0; --queue.wakesBeforeStart)
        Detail::ExecuteOne(queue);
    while (WaitForSingleObjectEx(m_stopEvent, INFINITE, TRUE) == WAIT_IO_COMPLETION) {
    }
    // Calls queued before the stop event was set but not yet delivered run now: Stop sets the event only
    // after every accepted job has queued its call.
    while (SleepEx(0, TRUE) == WAIT_IO_COMPLETION) {
    }
    SetEvent(m_stoppedEvent);
}

void JobSystem::EndWorker() {
    SetEvent(m_stopEvent);
    WaitForSingleObject(m_stoppedEvent, INFINITE);
    CloseIfOpen(m_workerThread);
    CloseIfOpen(m_stopEvent);
    CloseIfOpen(m_stoppedEvent);
}

} // namespace Marvane::Platform
