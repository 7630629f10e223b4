// Lifetimes and races of the job system: Schedule racing Stop, Stop from the worker itself, copies made
// with the copy assignment, and ExecuteJob while the owner stops and starts the system again. The races
// run under ThreadSanitizer too (this program is marked threaded).
#include "Marvane/JobSystem.h"
#include "support/CountingAllocator.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace Marvane;
using Platform::JobSystem;

namespace {

std::atomic<long> executed{0};
std::atomic<std::thread::id> lastWorker{};

void CountJob(void*) {
    lastWorker.store(std::this_thread::get_id());
    executed.fetch_add(1);
}

unsigned NoPriority(void*) {
    return 0;
}

// Waits until `executed` has reached `count` (jobs run on the worker), or gives up after 30 seconds.
bool WaitForExecuted(long count) {
    for (int i = 0; i < 30000 && executed.load() < count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return executed.load() >= count;
}

int marker;
void* const AnyJob = &marker;

class JobSystemLifetime : public ::testing::Test {
  protected:
    void SetUp() override { executed = 0; }
};

} // namespace

// Every true from Schedule means the job runs exactly once, also when Stop comes in between; once Stop
// has returned, Schedule refuses.
TEST_F(JobSystemLifetime, ScheduleRacingStopRunsEveryAcceptedJobExactlyOnce) {
    constexpr int Cycles = 60;
    constexpr int Schedulers = 3;
    for (int cycle = 0; cycle < Cycles; ++cycle) {
        executed = 0;
        JobSystem system;
        ASSERT_EQ(system.Init(L"racing", CountJob, nullptr, NoPriority), Error::Ok);
        std::atomic<bool> stopped{false};
        std::atomic<long> accepted{0};
        std::atomic<long> acceptedAfterStop{0};
        std::vector<std::thread> schedulers;
        for (int t = 0; t < Schedulers; ++t) {
            schedulers.emplace_back([&] {
                while (!stopped.load()) {
                    if (system.Schedule(AnyJob)) ++accepted;
                }
                // Stop has returned: nothing is accepted any more.
                for (int i = 0; i < 100; ++i)
                    if (system.Schedule(AnyJob)) ++acceptedAfterStop;
            });
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200 + 50 * (cycle % 8)));
        ASSERT_EQ(system.Stop(), Error::Ok);
        const long executedAtStop = executed.load();
        stopped = true;
        for (std::thread& scheduler : schedulers)
            scheduler.join();
        EXPECT_EQ(acceptedAfterStop.load(), 0);
        EXPECT_EQ(executedAtStop, accepted.load()) << "cycle " << cycle;
        EXPECT_EQ(executed.load(), accepted.load()) << "cycle " << cycle;
    }
}

namespace {

JobSystem* selfStopping = nullptr;
std::atomic<int> stopResultFromJob{-1};
std::atomic<int> stopResultFromThreadStart{-1};

void StopFromJob(void*) {
    stopResultFromJob = selfStopping->Stop();
    executed.fetch_add(1);
}

void StopFromThreadStart() {
    stopResultFromThreadStart = selfStopping->Stop();
}

} // namespace

// The worker cannot wait for itself to end: Stop there is an error, not a deadlock.
TEST_F(JobSystemLifetime, StopOnTheWorkerItselfReturnsAnError) {
    JobSystem system;
    selfStopping = &system;
    ASSERT_EQ(system.Init(L"self-stopping", StopFromJob, StopFromThreadStart, NoPriority), Error::Ok);
    ASSERT_TRUE(system.Schedule(AnyJob));
    ASSERT_TRUE(WaitForExecuted(1));
    EXPECT_EQ(stopResultFromThreadStart.load(), Error::InvalidState);
    EXPECT_EQ(stopResultFromJob.load(), Error::InvalidState);
    EXPECT_TRUE(system.Schedule(AnyJob)) << "the system still runs";
    EXPECT_EQ(system.Stop(), Error::Ok);
    EXPECT_EQ(executed.load(), 2);
}

namespace {

// Counts queue releases through a client allocator: the queue of a job system must go exactly once.
long QueueReleases(CountingAllocator& allocator) {
    long releases = 0;
    for (const CountingAllocator::Call& call : allocator.Calls())
        if (call.op == CountingAllocator::Op::Free &&
            call.function == "Marvane::Queue<void *>::operator delete")
            ++releases;
    return releases;
}

} // namespace

TEST_F(JobSystemLifetime, ACopySchedulesOntoTheOwnersWorkerButOnlyTheOwnerStopsIt) {
    ScopedCountingAllocator scoped;
    ASSERT_TRUE(scoped.Registered());
    {
        JobSystem owner;
        ASSERT_EQ(owner.Init(L"owner", CountJob, nullptr, NoPriority), Error::Ok);
        ASSERT_TRUE(owner.Schedule(AnyJob));
        ASSERT_TRUE(WaitForExecuted(1));
        const std::thread::id worker = lastWorker.load();
        {
            JobSystem copy;
            copy = owner;
            ASSERT_TRUE(copy.Schedule(AnyJob));
            ASSERT_TRUE(WaitForExecuted(2));
            EXPECT_EQ(lastWorker.load(), worker);
            EXPECT_EQ(copy.Stop(), Error::InvalidState) << "the worker belongs to the owner";
        }
        EXPECT_EQ(QueueReleases(scoped.allocator), 0) << "the owner still uses the queue";
        ASSERT_TRUE(owner.Schedule(AnyJob));
        ASSERT_TRUE(WaitForExecuted(3));
        EXPECT_EQ(owner.Stop(), Error::Ok);
    }
    EXPECT_EQ(QueueReleases(scoped.allocator), 1);
    EXPECT_EQ(scoped.allocator.LiveBlocks(), 0);
}

TEST_F(JobSystemLifetime, ACopyThatOutlivesItsOwnerAcceptsNothingAndReleasesTheQueueOnce) {
    ScopedCountingAllocator scoped;
    ASSERT_TRUE(scoped.Registered());
    {
        JobSystem copy;
        {
            auto* owner = new JobSystem;
            ASSERT_EQ(owner->Init(L"short-lived owner", CountJob, nullptr, NoPriority), Error::Ok);
            copy = *owner;
            ASSERT_TRUE(copy.Schedule(AnyJob));
            delete owner; // runs what was accepted, then the worker ends
        }
        EXPECT_EQ(executed.load(), 1);
        EXPECT_FALSE(copy.Schedule(AnyJob));
        copy.ExecuteJob();
        EXPECT_EQ(copy.Stop(), Error::InvalidState);
        EXPECT_EQ(QueueReleases(scoped.allocator), 0);
    }
    EXPECT_EQ(QueueReleases(scoped.allocator), 1);
    EXPECT_EQ(scoped.allocator.LiveBlocks(), 0);
}

TEST_F(JobSystemLifetime, AssigningOverARunningSystemStopsItsWorkerFirst) {
    ScopedCountingAllocator scoped;
    ASSERT_TRUE(scoped.Registered());
    {
        JobSystem first, second;
        ASSERT_EQ(first.Init(L"first", CountJob, nullptr, NoPriority), Error::Ok);
        ASSERT_EQ(second.Init(L"second", CountJob, nullptr, NoPriority), Error::Ok);
        ASSERT_TRUE(first.Schedule(AnyJob));
        ASSERT_TRUE(WaitForExecuted(1));
        const std::thread::id firstWorker = lastWorker.load();
        ASSERT_TRUE(second.Schedule(AnyJob));
        second = first;
        EXPECT_EQ(executed.load(), 2) << "the second worker ran what it had accepted before it ended";
        EXPECT_EQ(QueueReleases(scoped.allocator), 1) << "the second system's queue went with it";
        ASSERT_TRUE(second.Schedule(AnyJob));
        ASSERT_TRUE(WaitForExecuted(3));
        EXPECT_EQ(lastWorker.load(), firstWorker);
        EXPECT_EQ(second.Stop(), Error::InvalidState);
        Platform::JobSystem& sameObject = second; // self-assignment keeps the copy as it is
        second = sameObject;
        EXPECT_EQ(first.Stop(), Error::Ok);
        // A copy may start a worker of its own.
        ASSERT_EQ(second.Init(L"second again", CountJob, nullptr, NoPriority), Error::Ok);
        ASSERT_TRUE(second.Schedule(AnyJob));
        EXPECT_EQ(second.Stop(), Error::Ok);
        EXPECT_EQ(executed.load(), 4);
    }
    EXPECT_EQ(QueueReleases(scoped.allocator), 3);
    EXPECT_EQ(scoped.allocator.LiveBlocks(), 0);
}

// Other threads keep executing and scheduling while the owner stops and starts the system again: the
// queue they use is never freed under them, and every accepted job still runs exactly once.
TEST_F(JobSystemLifetime, ExecuteJobAndScheduleDuringStopAndInit) {
    JobSystem system;
    ASSERT_EQ(system.Init(L"restarting", CountJob, nullptr, NoPriority), Error::Ok);
    std::atomic<bool> done{false};
    std::atomic<long> accepted{0};
    std::thread helper([&] {
        while (!done.load()) {
            if (system.Schedule(AnyJob)) ++accepted;
            system.ExecuteJob();
        }
    });
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(system.Stop(), Error::Ok);
        ASSERT_EQ(system.Init(L"restarting", CountJob, nullptr, NoPriority), Error::Ok);
    }
    done = true;
    helper.join();
    ASSERT_EQ(system.Stop(), Error::Ok);
    // Jobs accepted before a Stop ran on the worker or through ExecuteJob; none was lost or run twice.
    EXPECT_EQ(executed.load(), accepted.load());
}
