#pragma once

#include "Marvane/Error.h"

namespace Marvane::Platform::Detail {

// Threads, and the wake-ups of a worker thread that runs one call per wake-up: what the job system
// needs from the system. Every thread the library starts of its own starts here.

// Starts a thread running `entry(argument)`. False, with a null handle, when the system refuses.
bool StartThread(void (*entry)(void* argument), void* argument, void*& thread);

// Releases a thread that has been told to end (a worker that has signalled its stopped event, say):
// POSIX joins it; Windows closes the handle without waiting, since the thread's very end may need the
// loader lock, which the caller may hold while it unloads a library.
void ReleaseEndingThread(void*& thread);

// One call queued to a worker. It must stay in place while wake-ups that carry it may be pending.
struct WakeUpCall {
    void (*run)(void* context);
    void* context;
};

// A stop event and a stopped event (auto-reset, not signalled) and, where the system cannot queue calls
// to a thread (POSIX), a counter of wake-ups. Unknown when the system refuses; nothing is left open then.
Error::Enum CreateWorkerSignals(void*& stop, void*& stopped, void*& wakeCounter);
void CloseWorkerSignals(void*& stop, void*& stopped, void*& wakeCounter);

// What QueueWakeUp wakes: the worker thread itself (Windows: an asynchronous procedure call) or its
// wake counter (POSIX).
void* WakeUpTarget(void* thread, void* wakeCounter);

// Queues one wake-up: the worker runs `call` once for it. False when the system refuses.
bool QueueWakeUp(void* target, const WakeUpCall& call);

// On the worker: runs one `call` per wake-up until `stop` is signalled, then every wake-up queued before
// it, then signals `stopped`. On Windows the calls carry themselves and `call` is not used.
void RunWakeUpsUntilStopped(void* stop, void* stopped, void* wakeCounter, const WakeUpCall& call);

// Signals `stop` and waits until the worker has signalled `stopped`.
void StopWorker(void* stop, void* stopped);

} // namespace Marvane::Platform::Detail
