// Threads are started per call and joined before it returns: a call's tasks (whole files, settings
// trials) take milliseconds to seconds, against tens of microseconds to start a thread, and nothing
// outlives the call that needs it.

#include "workers/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_limit{0}; // 0: not set, the processor count

// Threads lent out, summed over every call under way. A call borrows with a compare-exchange so that
// the sum never exceeds limit - 1.
std::atomic<int> g_lent{0};

int borrow_threads(int wanted) {
    const int spare_limit = worker_limit() - 1;
    int lent = g_lent.load(std::memory_order_relaxed);
    for (;;) {
        const int granted = std::min(wanted, spare_limit - lent);
        if (granted <= 0) return 0;
        if (g_lent.compare_exchange_weak(lent, lent + granted, std::memory_order_relaxed)) return granted;
    }
}

// One call's tasks, taken in order by the caller and the threads it borrowed.
struct CallState {
    WorkerTask task;
    void* context;
    size_t count;
    std::atomic<size_t> next{0};
};

void work(CallState& call, int worker) {
    for (;;) {
        const size_t t = call.next.fetch_add(1, std::memory_order_relaxed);
        if (t >= call.count) return;
        call.task(call.context, t, worker);
    }
}

} // namespace

int processor_count() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

void set_worker_limit(int limit) {
    g_limit.store(std::max(limit, 0), std::memory_order_relaxed);
}

int worker_limit() {
    const int limit = g_limit.load(std::memory_order_relaxed);
    return limit > 0 ? limit : processor_count();
}

bool run_tasks(size_t count, WorkerTask task, void* context) {
    if (count == 0) return false;
    CallState call{task, context, count};
    // The caller works as worker 0; borrowed threads as 1..extra, all below the limit.
    const int wanted = static_cast<int>(std::min<size_t>(count - 1, static_cast<size_t>(worker_limit() - 1)));
    int extra = wanted > 0 ? borrow_threads(wanted) : 0;
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(extra));
    for (int w = 1; w <= extra; ++w) {
        try {
            threads.emplace_back(work, std::ref(call), w);
        } catch (...) { // no thread to be had: the ones started and the caller do the rest
            break;
        }
    }
    g_lent.fetch_sub(extra - static_cast<int>(threads.size()), std::memory_order_relaxed);
    work(call, 0);
    for (auto& thread : threads)
        thread.join();
    g_lent.fetch_sub(static_cast<int>(threads.size()), std::memory_order_relaxed);
    return true;
}
