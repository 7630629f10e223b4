#include "Platform/WorkerThread.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

// There are no asynchronous procedure calls: each wake-up adds one to a counting eventfd, and the worker
// consumes one count per call. Counts posted before the stop event are all consumed before the worker
// ends, so calls queued before the stop still run, as they do on Windows.

namespace Marvane::Platform::Detail {

namespace {

static_assert(sizeof(pthread_t) <= sizeof(void*), "a thread must fit a handle");

struct ThreadStart {
    void (*entry)(void*);
    void* argument;
};

void* ThreadEntry(void* parameter) {
    const ThreadStart start = *static_cast<ThreadStart*>(parameter);
    std::free(parameter);
    start.entry(start.argument);
    return nullptr;
}

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

bool SignalEvent(void* handle) {
    const std::uint64_t one = 1;
    ssize_t written;
    while ((written = write(ToDescriptor(handle), &one, sizeof one)) < 0 && errno == EINTR) {
    }
    return written == static_cast<ssize_t>(sizeof one);
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

} // namespace

bool StartThread(void (*entry)(void* argument), void* argument, void*& thread) {
    thread = nullptr;
    // From the C heap: the library's allocator may count through the thread being started.
    auto* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
    if (start == nullptr) return false;
    *start = {entry, argument};
    pthread_t created;
    if (pthread_create(&created, nullptr, ThreadEntry, start) != 0) {
        std::free(start);
        return false;
    }
    std::memcpy(&thread, &created, sizeof created);
    return true;
}

void ReleaseEndingThread(void*& thread) {
    if (thread == nullptr) return;
    pthread_t joined;
    std::memcpy(&joined, &thread, sizeof joined);
    pthread_join(joined, nullptr);
    thread = nullptr;
}

Error::Enum CreateWorkerSignals(void*& stop, void*& stopped, void*& wakeCounter) {
    stop = CreateEvent(false);
    stopped = CreateEvent(false);
    wakeCounter = CreateEvent(true);
    if (stop != nullptr && stopped != nullptr && wakeCounter != nullptr) return Error::Ok;
    CloseWorkerSignals(stop, stopped, wakeCounter);
    return Error::Unknown;
}

void CloseWorkerSignals(void*& stop, void*& stopped, void*& wakeCounter) {
    CloseEvent(stop);
    CloseEvent(stopped);
    CloseEvent(wakeCounter);
}

void* WakeUpTarget(void*, void* wakeCounter) {
    return wakeCounter;
}

bool QueueWakeUp(void* target, const WakeUpCall&) {
    return SignalEvent(target);
}

void RunWakeUpsUntilStopped(void* stop, void* stopped, void* wakeCounter, const WakeUpCall& call) {
    for (;;) {
        if (TryConsume(wakeCounter)) {
            call.run(call.context);
            continue;
        }
        if (TryConsume(stop)) break;
        WaitReadable(wakeCounter, stop);
    }
    // A wake-up may have been counted between the last look at the counter and the stop event; the
    // owner signals only after every accepted wake-up has been counted, so what is counted now is all.
    while (TryConsume(wakeCounter))
        call.run(call.context);
    SignalEvent(stopped);
}

void StopWorker(void* stop, void* stopped) {
    SignalEvent(stop);
    while (!TryConsume(stopped))
        WaitReadable(stopped, nullptr);
}

} // namespace Marvane::Platform::Detail
