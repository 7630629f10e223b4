#include "Marvane/JobSystem.h"

#include "JobSystem/JobQueue.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

// Linux has no asynchronous procedure calls: each Schedule adds one to a counting eventfd, and the
// worker consumes one count per job. Counts posted before the stop event are all consumed before the
// worker ends, so jobs scheduled before Stop still run, as they would on Windows.

namespace Marvane::Platform {
namespace {

static_assert(sizeof(pthread_t) <= sizeof(void*), "a thread must fit a handle");

// Handles hold the descriptor plus one, so that a null handle means "none".
void* ToHandle(int fd) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd) + 1);
}
int ToDescriptor(void* handle) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle) - 1);
}

void* CreateEvent(bool counting) {
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | (counting ? EFD_SEMAPHORE : 0));
    return fd < 0 ? nullptr : ToHandle(fd);
}

void CloseEvent(void*& handle) {
    if (handle == nullptr) return;
    close(ToDescriptor(handle));
    handle = nullptr;
}

void SignalEvent(void* handle) {
    const std::uint64_t one = 1;
    while (write(ToDescriptor(handle), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// Consumes one count (auto-reset for plain events); false when the event is not signalled.
bool TryConsume(void* handle) {
    std::uint64_t value = 0;
    ssize_t got;
    while ((got = read(ToDescriptor(handle), &value, sizeof value)) < 0 && errno == EINTR) {
    }
    return got == static_cast<ssize_t>(sizeof value);
}

void WaitReadable(void* first, void* second) {
    pollfd descriptors[2] = {{ToDescriptor(first), POLLIN, 0}, {ToDescriptor(second), POLLIN, 0}};
    const nfds_t count = second != nullptr ? 2 : 1;
    while (poll(descriptors, count, -1) < 0 && errno == EINTR) {
    }
}

void* WorkerEntry(void* system) {
    static_cast<JobSystem*>(system)->WorkerThreadMain();
    return nullptr;
}

} // namespace

Error::Enum JobSystem::StartWorker() {
    m_stopEvent = CreateEvent(false);
    m_stoppedEvent = CreateEvent(false);
    m_wakeCounter = CreateEvent(true);
    if (m_stopEvent == nullptr || m_stoppedEvent == nullptr || m_wakeCounter == nullptr) {
        CloseEvent(m_stopEvent);
        CloseEvent(m_stoppedEvent);
        CloseEvent(m_wakeCounter);
        return Error::Unknown;
    }
    pthread_t thread;
    if (pthread_create(&thread, nullptr, WorkerEntry, this) != 0) {
        CloseEvent(m_stopEvent);
        CloseEvent(m_stoppedEvent);
        CloseEvent(m_wakeCounter);
        return Error::Unknown;
    }
    m_workerThread = nullptr;
    std::memcpy(&m_workerThread, &thread, sizeof thread);
    return Error::Ok;
}

void* JobSystem::WakeTarget() const {
    return m_wakeCounter;
}

bool Detail::WakeWorker(JobQueue& queue) {
    const std::uint64_t one = 1;
    ssize_t written;
    while ((written = write(ToDescriptor(queue.wakeTarget), &one, sizeof one)) < 0 && errno == EINTR) {
    }
    return written == static_cast<ssize_t>(sizeof one);
}

void JobSystem::RunUntilStopped() {
    for (;;) {
        if (TryConsume(m_wakeCounter)) {
            ExecuteJob();
            continue;
        }
        if (TryConsume(m_stopEvent)) break;
        WaitReadable(m_wakeCounter, m_stopEvent);
    }
    // A wake-up may have been counted between the last look at the counter and the stop event; Stop
    // signals only after every accepted job has been counted, so what is counted now is all there is.
    while (TryConsume(m_wakeCounter))
        ExecuteJob();
    SignalEvent(m_stoppedEvent);
}

void JobSystem::EndWorker() {
    SignalEvent(m_stopEvent);
    while (!TryConsume(m_stoppedEvent))
        WaitReadable(m_stoppedEvent, nullptr);
    pthread_t thread;
    std::memcpy(&thread, &m_workerThread, sizeof thread);
    pthread_join(thread, nullptr);
    m_workerThread = nullptr;
    CloseEvent(m_stopEvent);
    CloseEvent(m_stoppedEvent);
    CloseEvent(m_wakeCounter);
}

} // namespace Marvane::Platform
