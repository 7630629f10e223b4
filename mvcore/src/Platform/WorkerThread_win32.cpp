#include "Platform/WorkerThread.h"

#include <cstdlib>
#include <windows.h>

// Every wake-up is an asynchronous procedure call queued to the worker, which waits alertably on the
// stop event: pending calls are delivered before the wait can see the event, so calls queued before the
// stop still run.

namespace Marvane::Platform::Detail {

namespace {

struct ThreadStart {
    void (*entry)(void*);
    void* argument;
};

DWORD WINAPI ThreadEntry(LPVOID parameter) {
    const ThreadStart start = *static_cast<ThreadStart*>(parameter);
    std::free(parameter);
    start.entry(start.argument);
    return 0;
}

VOID CALLBACK RunWakeUp(ULONG_PTR parameter) {
    const auto& call = *reinterpret_cast<const WakeUpCall*>(parameter);
    call.run(call.context);
}

void CloseIfOpen(void*& handle) {
    if (handle == nullptr) return;
    CloseHandle(handle);
    handle = nullptr;
}

} // namespace

bool StartThread(void (*entry)(void* argument), void* argument, void*& thread) {
    thread = nullptr;
    // From the C heap: the library's allocator may count through the thread being started.
    auto* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
    if (start == nullptr) return false;
    *start = {entry, argument};
    thread = CreateThread(nullptr, 0, ThreadEntry, start, 0, nullptr);
    if (thread == nullptr) std::free(start);
    return thread != nullptr;
}

void ReleaseEndingThread(void*& thread) {
    CloseIfOpen(thread);
}

Error::Enum CreateWorkerSignals(void*& stop, void*& stopped, void*& wakeCounter) {
    wakeCounter = nullptr;
    stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    stopped = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (stop != nullptr && stopped != nullptr) return Error::Ok;
    CloseWorkerSignals(stop, stopped, wakeCounter);
    return Error::Unknown;
}

void CloseWorkerSignals(void*& stop, void*& stopped, void*& wakeCounter) {
    CloseIfOpen(stop);
    CloseIfOpen(stopped);
    wakeCounter = nullptr;
}

void* WakeUpTarget(void* thread, void*) {
    return thread;
}

bool QueueWakeUp(void* target, const WakeUpCall& call) {
    return QueueUserAPC(RunWakeUp, target, reinterpret_cast<ULONG_PTR>(&call)) != 0;
}

void RunWakeUpsUntilStopped(void* stop, void* stopped, void*, const WakeUpCall&) {
    while (WaitForSingleObjectEx(stop, INFINITE, TRUE) == WAIT_IO_COMPLETION) {
    }
    // Calls queued before the stop event was set but not yet delivered run now: the owner sets the event
    // only after every accepted wake-up has been queued.
    while (SleepEx(0, TRUE) == WAIT_IO_COMPLETION) {
    }
    SetEvent(stopped);
}

void StopWorker(void* stop, void* stopped) {
    SetEvent(stop);
    WaitForSingleObject(stopped, INFINITE);
}

} // namespace Marvane::Platform::Detail
