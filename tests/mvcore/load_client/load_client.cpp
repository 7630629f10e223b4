// A client library of mvcore for the host test (client_library_host.cpp), which loads and unloads it
// without linking mvcore itself: unloading the client is what could unload mvcore.
//
// Built twice: plainly, and with MVCORE_CLIENT_JOBS_AT_LOAD, where a global constructor (run by the
// loader, on Windows under the loader lock) starts a job system and schedules a job.
#include "Marvane/Allocator.h"
#include "Marvane/Error.h"
#include "Marvane/JobSystem.h"

#include <atomic>

#if defined(_WIN32)
#define LOAD_CLIENT_EXPORT extern "C" __declspec(dllexport)
#else
#define LOAD_CLIENT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Allocates and releases a block through mvcore on the calling thread, which thereby counts through the
// library's own per-thread counters. 1 on success.
LOAD_CLIENT_EXPORT int MvcoreClientAllocate() {
    const Marvane::ContextInfo context{__FILE__, __LINE__, "MvcoreClientAllocate"};
    void* block = Marvane::GetAllocator()->Alloc(4096, Marvane::AllocationCategory::Cache, context);
    if (block == nullptr) return 0;
    Marvane::GetAllocator()->Free(block, context);
    return 1;
}

#if defined(MVCORE_CLIENT_JOBS_AT_LOAD)
namespace {

std::atomic<int> jobsRun{0};
std::atomic<int> initResult{-1};
int jobToken = 0;

void RunJob(void*) {
    jobsRun.fetch_add(1);
}

// Made by the loader's call of the constructor below and deleted by the host through
// MvcoreClientStopJobs, outside the loader lock: a destructor run while the library unloads would run
// under the lock, where waiting for the worker to end cannot work.
Marvane::Platform::JobSystem* jobs = nullptr;

struct StartJobsAtLoad {
    StartJobsAtLoad() {
        jobs = new Marvane::Platform::JobSystem;
        if (jobs == nullptr) return;
        const Marvane::Error::Enum result = jobs->Init(L"load client", RunJob, nullptr, nullptr);
        initResult.store(result);
        if (result == Marvane::Error::Ok) jobs->Schedule(&jobToken);
    }
} startJobsAtLoad;

} // namespace

// What Init returned while the library was being loaded (an Error::Enum).
LOAD_CLIENT_EXPORT int MvcoreClientInitResult() {
    return initResult.load();
}

LOAD_CLIENT_EXPORT int MvcoreClientJobsRun() {
    return jobsRun.load();
}

// Stops the worker and deletes the job system (outside the loader lock); what Stop returned.
LOAD_CLIENT_EXPORT int MvcoreClientStopJobs() {
    if (jobs == nullptr) return Marvane::Error::InvalidState;
    const int result = jobs->Stop();
    delete jobs;
    jobs = nullptr;
    return result;
}
#endif
