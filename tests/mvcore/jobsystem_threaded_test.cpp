#include "Marvane/JobSystem.h"

#include "Marvane/Performance/PerformanceMonitor.h"
#include "scratch_dir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace Marvane;
using Platform::JobSystem;

namespace {

// A job: its priority, and whether it holds the worker until the test opens the gate.
struct Job {
    unsigned priority = 0;
    bool gate = false;
    int name = 0;
};

// What the worker did, shared between the test and the job functions (which are plain functions).
struct Journal {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    bool gateOpen = false;
    bool gateEntered = false;
    int threadStarts = 0;
    std::thread::id startThread;

    void Reset() {
        std::lock_guard<std::mutex> lock(mutex);
        order.clear();
        threads.clear();
        gateOpen = false;
        gateEntered = false;
        threadStarts = 0;
    }
    template <class Predicate> bool WaitFor(Predicate predicate) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), predicate);
    }
    void OpenGate() {
        std::lock_guard<std::mutex> lock(mutex);
        gateOpen = true;
        changed.notify_all();
    }
};

Journal journal;

void Execute(void* p) {
    auto* job = static_cast<Job*>(p);
    std::unique_lock<std::mutex> lock(journal.mutex);
    if (job->gate) {
        journal.gateEntered = true;
        journal.changed.notify_all();
        journal.changed.wait(lock, [] { return journal.gateOpen; });
    }
    journal.order.push_back(job->name);
    journal.threads.push_back(std::this_thread::get_id());
    journal.changed.notify_all();
}

void ThreadStart() {
    std::lock_guard<std::mutex> lock(journal.mutex);
    ++journal.threadStarts;
    journal.startThread = std::this_thread::get_id();
}

std::atomic<int> priorityCalls{0};

// Null jobs are rated too, so the rating must cope with them.
unsigned Priority(void* p) {
    priorityCalls.fetch_add(1);
    return p != nullptr ? static_cast<Job*>(p)->priority : 0;
}

class JobSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        journal.Reset();
        ASSERT_EQ(system.Init(L"Test worker", Execute, ThreadStart, Priority), Error::Ok);
    }
    // Occupies the worker until OpenGate, so that later jobs wait in the queue together.
    void HoldWorker() {
        ASSERT_TRUE(system.Schedule(&gate));
        ASSERT_TRUE(journal.WaitFor([] { return journal.gateEntered; }));
    }
    bool WaitForRuns(std::size_t count) {
        return journal.WaitFor([count] { return journal.order.size() >= count; });
    }

    JobSystem system;
    Job gate{0, true, -1};
};

} // namespace

TEST_F(JobSystemTest, HigherPriorityRunsFirstAndEqualPrioritiesKeepTheirOrder) {
    HoldWorker();
    Job one{1, false, 1}, firstFive{5, false, 51}, secondFive{5, false, 52};
    ASSERT_TRUE(system.Schedule(&one));
    ASSERT_TRUE(system.Schedule(&firstFive));
    ASSERT_TRUE(system.Schedule(&secondFive));
    journal.OpenGate();
    ASSERT_TRUE(WaitForRuns(4));
    EXPECT_EQ(journal.order, (std::vector<int>{-1, 51, 52, 1}));
    EXPECT_EQ(system.Stop(), Error::Ok);
}

TEST_F(JobSystemTest, ThreadStartRunsOnceOnTheWorkerBeforeJobs) {
    Job job{0, false, 7};
    ASSERT_TRUE(system.Schedule(&job));
    ASSERT_TRUE(WaitForRuns(1));
    EXPECT_EQ(system.Stop(), Error::Ok);
    EXPECT_EQ(journal.threadStarts, 1);
    EXPECT_EQ(journal.threads[0], journal.startThread);
    EXPECT_NE(journal.threads[0], std::this_thread::get_id());
}

TEST_F(JobSystemTest, The1025thWaitingJobIsRefused) {
    HoldWorker();
    std::vector<Job> jobs(1025);
    for (int i = 0; i < 1024; ++i) {
        jobs[i].name = i;
        ASSERT_TRUE(system.Schedule(&jobs[i])) << i;
    }
    EXPECT_FALSE(system.Schedule(&jobs[1024]));
    journal.OpenGate();
    ASSERT_TRUE(WaitForRuns(1025));
    EXPECT_EQ(system.Stop(), Error::Ok);
    EXPECT_EQ(journal.order.size(), 1025u) << "every accepted job ran exactly once";
}

TEST_F(JobSystemTest, ExecuteJobRunsTheBestWaitingJobOnTheCallingThread) {
    HoldWorker();
    Job low{2, false, 2}, high{9, false, 9};
    ASSERT_TRUE(system.Schedule(&low));
    ASSERT_TRUE(system.Schedule(&high));
    system.ExecuteJob();
    {
        std::lock_guard<std::mutex> lock(journal.mutex);
        ASSERT_EQ(journal.order, (std::vector<int>{9}));
        EXPECT_EQ(journal.threads[0], std::this_thread::get_id());
    }
    journal.OpenGate();
    ASSERT_TRUE(WaitForRuns(3));
    EXPECT_EQ(system.Stop(), Error::Ok);
    EXPECT_EQ(journal.order, (std::vector<int>{9, -1, 2})) << "the spare wake-up finds nothing to do";
}

TEST_F(JobSystemTest, EveryWaitingJobIsRatedOncePerExecutionEvenWhenItIsTheOnlyOne) {
    HoldWorker();
    Job only{3, false, 3};
    ASSERT_TRUE(system.Schedule(&only));
    priorityCalls = 0;
    system.ExecuteJob();
    EXPECT_EQ(priorityCalls.load(), 1) << "the single waiting job is rated too";
    Job a{1, false, 1}, b{2, false, 2}, c{3, false, 4};
    ASSERT_TRUE(system.Schedule(&a));
    ASSERT_TRUE(system.Schedule(&b));
    ASSERT_TRUE(system.Schedule(&c));
    priorityCalls = 0;
    system.ExecuteJob();
    EXPECT_EQ(priorityCalls.load(), 3);
    journal.OpenGate();
    ASSERT_TRUE(WaitForRuns(5));
    EXPECT_EQ(system.Stop(), Error::Ok);
    EXPECT_EQ(journal.order, (std::vector<int>{3, 4, -1, 2, 1}));
}

TEST_F(JobSystemTest, ExecuteJobWithNothingWaitingDoesNothing) {
    system.ExecuteJob();
    EXPECT_EQ(system.Stop(), Error::Ok);
    EXPECT_TRUE(journal.order.empty());
}

TEST_F(JobSystemTest, JobsScheduledBeforeStopStillRun) {
    std::vector<Job> jobs(200);
    for (int i = 0; i < 200; ++i) {
        jobs[i].name = i;
        ASSERT_TRUE(system.Schedule(&jobs[i]));
    }
    EXPECT_EQ(system.Stop(), Error::Ok);
    EXPECT_EQ(journal.order.size(), 200u);
}

TEST_F(JobSystemTest, StoppedSystemRefusesJobsAndASecondStop) {
    EXPECT_EQ(system.Stop(), Error::Ok);
    EXPECT_EQ(system.Stop(), Error::InvalidState);
    Job job;
    EXPECT_FALSE(system.Schedule(&job));
    EXPECT_EQ(system.Init(L"again", Execute, ThreadStart, Priority), Error::Ok)
        << "a stopped system restarts";
    EXPECT_EQ(system.Init(L"twice", Execute, ThreadStart, Priority), Error::InvalidState);
    ASSERT_TRUE(system.Schedule(&job));
    EXPECT_EQ(system.Stop(), Error::Ok);
    EXPECT_EQ(journal.order.size(), 1u);
}

TEST_F(JobSystemTest, NullJobsAreTakenButNotExecuted) {
    ASSERT_TRUE(system.Schedule(nullptr));
    Job job{0, false, 3};
    ASSERT_TRUE(system.Schedule(&job));
    EXPECT_EQ(system.Stop(), Error::Ok);
    EXPECT_EQ(journal.order, (std::vector<int>{3}));
}

namespace {

// A thread-start function that waits until its owner says Init has returned (at most 20 s, so that an
// Init that waited for it fails the test instead of hanging it).
std::atomic<bool> initReturned{false};
std::atomic<bool> startSawInitReturn{false};

void ThreadStartWaitingForTheOwner() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!initReturned.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    startSawInitReturn.store(initReturned.load());
    ThreadStart();
}

} // namespace

// Init does not wait for the worker, and jobs scheduled at once still come after the thread-start
// function, on both systems.
TEST(JobSystemLifetime, ThreadStartMayWaitForItsOwnerAndJobsWaitForThreadStart) {
    journal.Reset();
    initReturned = false;
    startSawInitReturn = false;
    JobSystem system;
    ASSERT_EQ(system.Init(L"waits for owner", Execute, ThreadStartWaitingForTheOwner, Priority), Error::Ok);
    Job first{0, false, 1}, second{0, false, 2};
    ASSERT_TRUE(system.Schedule(&first));
    ASSERT_TRUE(system.Schedule(&second));
    {
        std::lock_guard<std::mutex> lock(journal.mutex);
        EXPECT_EQ(journal.threadStarts, 0);
        EXPECT_TRUE(journal.order.empty()) << "a job ran before the thread-start function";
    }
    initReturned = true;
    EXPECT_EQ(system.Stop(), Error::Ok);
    EXPECT_TRUE(startSawInitReturn.load()) << "Init returned only after the thread-start function";
    EXPECT_EQ(journal.threadStarts, 1);
    EXPECT_EQ(journal.order, (std::vector<int>{1, 2}));
    ASSERT_EQ(journal.threads.size(), 2u);
    EXPECT_EQ(journal.threads[0], journal.startThread);
}

TEST(JobSystemLifetime, UnstartedSystemIsNotRunning) {
    JobSystem system;
    Job job;
    EXPECT_FALSE(system.Schedule(&job));
    system.ExecuteJob();
    EXPECT_EQ(system.Stop(), Error::InvalidState);
}

TEST(JobSystemLifetime, DestructionStopsTheWorker) {
    journal.Reset();
    std::vector<Job> jobs(50);
    {
        auto* system = new JobSystem;
        ASSERT_EQ(system->Init(nullptr, Execute, nullptr, nullptr), Error::Ok);
        for (auto& job : jobs)
            ASSERT_TRUE(system->Schedule(&job));
        delete system;
    }
    EXPECT_EQ(journal.order.size(), 50u);
}

TEST(JobSystemMonitor, WorkerIsRegisteredUnderTheSystemName) {
    journal.Reset();
    const auto path = program_scratch_dir() / "jobs.mplg";
    auto* monitor = Performance::GetPerformanceMonitor();
    ASSERT_EQ(monitor->StartRecord(path.wstring().c_str()), Error::Ok);
    {
        JobSystem system;
        ASSERT_EQ(system.Init(L"Texture loader", Execute, nullptr, Priority), Error::Ok);
        Job job;
        ASSERT_TRUE(system.Schedule(&job));
        ASSERT_EQ(system.Stop(), Error::Ok);
    }
    ASSERT_EQ(monitor->StopRecord(), Error::Ok);
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> log{std::istreambuf_iterator<char>(in), {}};
    in.close();
    std::filesystem::remove(path);

    // A ThreadCreate record: word with type 7, then the name as a counted UTF-16LE string.
    const std::wstring name = L"Texture loader";
    std::vector<unsigned char> record{static_cast<unsigned char>(name.size()), 0};
    for (wchar_t unit : name) {
        record.push_back(static_cast<unsigned char>(unit));
        record.push_back(0);
    }
    bool found = false;
    for (std::size_t at = 4; at + record.size() <= log.size() && !found; ++at)
        found = log[at - 4] == 7 && std::equal(record.begin(), record.end(), log.begin() + at);
    EXPECT_TRUE(found) << "no thread record named after the job system";
}
