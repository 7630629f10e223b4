#include "workers/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

// Counts the tasks running at once and keeps the highest count seen.
struct Concurrency {
    std::atomic<int> now{0};
    std::atomic<int> peak{0};
    void enter() {
        const int n = now.fetch_add(1) + 1;
        int seen = peak.load();
        while (n > seen && !peak.compare_exchange_weak(seen, n)) {
        }
    }
    void leave() { now.fetch_sub(1); }
};

class WorkerPoolTest : public ::testing::Test {
  protected:
    void TearDown() override { set_worker_limit(0); }
};

TEST_F(WorkerPoolTest, EveryTaskRunsOnceWithAWorkerNumberOfItsOwn) {
    for (int limit : {1, 2, 3, 8}) {
        set_worker_limit(limit);
        for (size_t count : {size_t{1}, size_t{2}, size_t{7}, size_t{200}}) {
            std::vector<std::atomic<int>> runs(count);
            std::vector<std::atomic<int>> busy(static_cast<size_t>(limit));
            std::atomic<bool> shared_worker{false}, worker_out_of_range{false};
            ASSERT_TRUE(run_tasks(count,
                                  [&](size_t task, int worker) {
                                      if (worker < 0 || worker >= limit) {
                                          worker_out_of_range = true;
                                          return;
                                      }
                                      if (busy[static_cast<size_t>(worker)].fetch_add(1) != 0)
                                          shared_worker = true;
                                      runs[task].fetch_add(1);
                                      std::this_thread::sleep_for(std::chrono::microseconds(50));
                                      busy[static_cast<size_t>(worker)].fetch_sub(1);
                                  }))
                << limit << " " << count;
            for (size_t t = 0; t < count; ++t)
                EXPECT_EQ(runs[t].load(), 1) << "limit " << limit << ", task " << t << " of " << count;
            EXPECT_FALSE(shared_worker) << limit;
            EXPECT_FALSE(worker_out_of_range) << limit;
        }
    }
}

TEST_F(WorkerPoolTest, NoTasksRunNothing) {
    bool ran = false;
    EXPECT_FALSE(run_tasks(0, [&](size_t, int) { ran = true; }));
    EXPECT_FALSE(ran);
}

TEST_F(WorkerPoolTest, OneWorkerRunsEverythingOnTheCallerInOrder) {
    set_worker_limit(1);
    const auto caller = std::this_thread::get_id();
    std::vector<size_t> order;
    run_tasks(20, [&](size_t task, int worker) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        EXPECT_EQ(worker, 0);
        order.push_back(task);
    });
    std::vector<size_t> expected(20);
    for (size_t i = 0; i < expected.size(); ++i)
        expected[i] = i;
    EXPECT_EQ(order, expected);
}

// Files on the pool, trials within each file on the pool again: the limit holds for the sum.
TEST_F(WorkerPoolTest, NestedCallsStayWithinTheLimit) {
    for (int limit : {1, 2, 4}) {
        set_worker_limit(limit);
        Concurrency inner;
        std::atomic<int> inner_runs{0};
        std::atomic<bool> waited{false};
        run_tasks(6, [&](size_t, int) {
            run_tasks(5, [&](size_t, int) {
                inner.enter();
                inner_runs.fetch_add(1);
                // The first task holds on until a second one runs beside it, so that a borrowed thread
                // that starts late on a busy machine still overlaps; a pool that never runs two tasks
                // at once lets it go after the deadline and fails below.
                if (limit > 1 && !waited.exchange(true)) {
                    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                    while (inner.peak.load() < 2 && std::chrono::steady_clock::now() < deadline)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                inner.leave();
            });
        });
        EXPECT_EQ(inner_runs.load(), 30) << limit;
        EXPECT_LE(inner.peak.load(), limit) << limit;
        if (limit > 1) {
            EXPECT_GT(inner.peak.load(), 1) << "limit " << limit << " ran no two tasks at once";
        }
    }
}

TEST_F(WorkerPoolTest, ResultsDoNotDependOnTheLimit) {
    auto squares = [](int limit) {
        set_worker_limit(limit);
        std::vector<long> out(1000);
        run_tasks(out.size(), [&](size_t task, int) { out[task] = static_cast<long>(task * task); });
        return out;
    };
    EXPECT_EQ(squares(1), squares(3));
    EXPECT_EQ(squares(1), squares(16));
}

TEST_F(WorkerPoolTest, LimitDefaultsToTheProcessors) {
    set_worker_limit(0);
    EXPECT_EQ(worker_limit(), processor_count());
    EXPECT_GE(processor_count(), 1);
    set_worker_limit(5);
    EXPECT_EQ(worker_limit(), 5);
}

} // namespace
