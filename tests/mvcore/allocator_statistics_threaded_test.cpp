// The memory statistics under many threads. While no log is captured each thread counts in counters of
// its own, which the monitor folds in before every read, every Tick and the start of every capture: the
// figures must still come out exact, also for threads that have ended. While a log is captured every
// allocation and release is a record of its own, and the log replays to the monitor's figures.
#include "Marvane/Allocator.h"
#include "Marvane/Performance/PerformanceMonitor.h"
#include "log_reader.h"
#include "monitor_test_support.h"
#include "replay.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

using namespace monitor_test;

namespace {

constexpr double BytesToMiB = 1.0 / 1048576.0;

// The category statistics are registered by the first allocation of the process.
unsigned MemoryStatistic(const wchar_t* name) {
    const ContextInfo context = MARVANE_CONTEXT_INFO;
    GetAllocator()->Free(GetAllocator()->Alloc(1, AllocationCategory::Generic, context), context);
    unsigned int id = 0;
    EXPECT_TRUE(GetPerformanceMonitor()->FindStatistic(L"Memory", name, id)) << "no statistic";
    return id;
}

double Bytes(unsigned id, StatisticValueMethod::Enum method = StatisticValueMethod::Value) {
    return GetPerformanceMonitor()->GetStatisticValue(id, method) / BytesToMiB;
}

// Allocates and releases in a fixed pattern of sizes and categories and keeps `keep` blocks; returns the
// bytes kept per category.
struct Worker {
    std::vector<void*> kept;
    long keptBytes[AllocationCategory::Count] = {};

    void Run(unsigned seed, int rounds, int keep) {
        const ContextInfo context = MARVANE_CONTEXT_INFO;
        Allocator* allocator = GetAllocator();
        std::uint32_t state = seed;
        for (int i = 0; i < rounds; ++i) {
            state = state * 1664525u + 1013904223u;
            const auto category =
                static_cast<AllocationCategory::Enum>((state >> 8) % AllocationCategory::Count);
            const std::uint64_t size = 1 + (state >> 16) % 700;
            const bool aligned = (state & 1) != 0;
            void* block = aligned ? allocator->AllocAligned(size, 32, category, context)
                                  : allocator->Alloc(size, category, context);
            ASSERT_NE(block, nullptr);
            if (i < keep) {
                kept.push_back(block);
                keptBytes[category] += static_cast<long>(size);
            } else if (aligned) {
                allocator->FreeAligned(block, context);
            } else {
                allocator->Free(block, context);
            }
        }
    }
    void ReleaseKept() {
        const ContextInfo context = MARVANE_CONTEXT_INFO;
        for (void* block : kept)
            GetAllocator()->Free(block, context);
        kept.clear();
    }
};

const wchar_t* CategoryName(unsigned category) {
    return AllocationCategory::ToString(static_cast<AllocationCategory::Enum>(category));
}

} // namespace

TEST(AllocatorStatistics, ExactOnManyThreadsIncludingThreadsThatHaveEnded) {
    constexpr int Threads = 8;
    const unsigned total = MemoryStatistic(L"Total");
    double before[AllocationCategory::Count];
    for (unsigned c = 0; c < AllocationCategory::Count; ++c)
        before[c] = Bytes(MemoryStatistic(CategoryName(c)));
    const double totalBefore = Bytes(total);

    std::vector<Worker> workers(Threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&, t] { workers[t].Run(1000u + static_cast<unsigned>(t), 20000, 100 + t); });
    // Reads while the threads count: a consistent value each time, never a torn one.
    for (int i = 0; i < 100; ++i) {
        GetPerformanceMonitor()->Tick();
        EXPECT_GE(Bytes(total), 0.0);
    }
    for (std::thread& thread : threads)
        thread.join(); // these threads have ended: what they counted must not be lost

    double keptTotal = 0;
    for (unsigned c = 0; c < AllocationCategory::Count; ++c) {
        long kept = 0;
        for (const Worker& worker : workers)
            kept += worker.keptBytes[c];
        keptTotal += static_cast<double>(kept);
        EXPECT_EQ(Bytes(MemoryStatistic(CategoryName(c))) - before[c], static_cast<double>(kept)) << c;
    }
    EXPECT_EQ(Bytes(total) - totalBefore, keptTotal);
    // Tick folds too: the change of the last frame is exact.
    GetPerformanceMonitor()->Tick();
    for (Worker& worker : workers)
        worker.ReleaseKept();
    GetPerformanceMonitor()->Tick();
    EXPECT_EQ(Bytes(total, StatisticValueMethod::PerFrame), -keptTotal);
    EXPECT_EQ(Bytes(total), totalBefore);
}

// Many short-lived threads, more than count on their own at once: what each counted survives its end.
TEST(AllocatorStatistics, ExactAcrossManyShortLivedThreads) {
    const unsigned total = MemoryStatistic(L"Total");
    const double totalBefore = Bytes(total);
    std::vector<Worker> workers(400);
    for (std::size_t first = 0; first < workers.size(); first += 100) {
        std::vector<std::thread> threads;
        for (std::size_t t = first; t < first + 100; ++t)
            threads.emplace_back([&, t] { workers[t].Run(static_cast<unsigned>(t), 50, 3); });
        for (std::thread& thread : threads)
            thread.join();
    }
    double kept = 0;
    for (const Worker& worker : workers)
        for (long bytes : worker.keptBytes)
            kept += static_cast<double>(bytes);
    EXPECT_EQ(Bytes(total) - totalBefore, kept);
    for (Worker& worker : workers)
        worker.ReleaseKept();
    EXPECT_EQ(Bytes(total), totalBefore);
}

TEST(AllocatorStatistics, WhileCapturingEveryUpdateIsARecordAndTheLogReplaysToTheFigures) {
    constexpr int Threads = 4;
    constexpr int Rounds = 3000;
    const unsigned total = MemoryStatistic(L"Total");
    const unsigned cache = MemoryStatistic(L"Cache");
    // Counted before the capture: the capture's snapshot must start from these.
    Worker early;
    early.Run(7, 500, 50);

    const auto path = TempPath("allocator-capture");
    ASSERT_EQ(GetPerformanceManager()->StartRecord(path.wstring().c_str()), Error::Ok);
    std::vector<std::thread> threads;
    std::atomic<long> cacheAllocations{0};
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&] {
            const ContextInfo context = MARVANE_CONTEXT_INFO;
            for (int i = 0; i < Rounds; ++i) {
                void* block = GetAllocator()->Alloc(64 + i % 100, AllocationCategory::Cache, context);
                ++cacheAllocations;
                GetAllocator()->Free(block, context);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    early.ReleaseKept();
    const double totalAtStop = Bytes(total);
    const double cacheAtStop = Bytes(cache);
    ASSERT_EQ(GetPerformanceManager()->StopRecord(), Error::Ok);

    mplg::Log log;
    std::string error;
    ASSERT_TRUE(mplg::ReadLog(path.string(), log, error)) << error;
    long cacheAdds = 0, cacheSubs = 0;
    long categoryRecords = 0, totalRecords = 0;
    std::int64_t categorySum = 0, totalSum = 0;
    mplg::Replay replay;
    for (const mplg::Record& record : log.records) {
        replay.Apply(record);
        if (record.type != mplg::CounterAdd && record.type != mplg::CounterSub) continue;
        const std::int64_t amount =
            record.type == mplg::CounterAdd ? record.amount : -std::int64_t{record.amount};
        // Every update of a category statistic comes with the same update of "Total".
        if (record.id == total) {
            ++totalRecords;
            totalSum += amount;
        } else if (replay.GroupName(replay.Statistic(record.id).group) == "Memory") {
            ++categoryRecords;
            categorySum += amount;
        }
        if (record.id == cache) (record.type == mplg::CounterAdd ? cacheAdds : cacheSubs) += 1;
    }
    EXPECT_EQ(categoryRecords, totalRecords);
    EXPECT_EQ(categorySum, totalSum);
    EXPECT_GE(cacheAdds, cacheAllocations.load());
    EXPECT_GE(cacheSubs, cacheAllocations.load());
    EXPECT_EQ(static_cast<double>(replay.Statistic(total).value), totalAtStop);
    EXPECT_EQ(static_cast<double>(replay.Statistic(cache).value), cacheAtStop);
    std::filesystem::remove(path);
}

// Captures started and stopped (300: enough to catch such a race several times over) while another thread
// allocates and releases one block over and over: the counter is always 0 or 4096 bytes above where it began,
// and a replay of each log must only ever show those values (an update that raced with the start of a capture
// must not reach the log after records made after it).
TEST(AllocatorStatistics, CapturesStartedWhileAThreadCountsReplayOnlyValuesTheProgramHad) {
    constexpr int Captures = 300;
    const unsigned transcoder = MemoryStatistic(L"Transcoder");
    const auto base = static_cast<std::int64_t>(Bytes(transcoder));
    std::atomic<bool> stop{false};
    std::atomic<long> pairs{0};
    std::thread counting([&] {
        const ContextInfo context = MARVANE_CONTEXT_INFO;
        while (!stop.load(std::memory_order_relaxed)) {
            GetAllocator()->Free(GetAllocator()->Alloc(4096, AllocationCategory::Transcoder, context),
                                 context);
            pairs.fetch_add(1, std::memory_order_relaxed);
        }
    });
    while (pairs.load() == 0)
        std::this_thread::yield();
    const auto path = TempPath("capture-start-race");
    int impossible = 0;
    for (int capture = 0; capture < Captures && impossible == 0; ++capture) {
        ASSERT_EQ(GetPerformanceManager()->StartRecord(path.wstring().c_str()), Error::Ok);
        const long seen = pairs.load();
        while (pairs.load() < seen + 2)
            std::this_thread::yield();
        ASSERT_EQ(GetPerformanceManager()->StopRecord(), Error::Ok);
        mplg::Log log;
        std::string error;
        ASSERT_TRUE(mplg::ReadLog(path.string(), log, error)) << error;
        mplg::Replay replay;
        for (const mplg::Record& record : log.records) {
            replay.Apply(record);
            if (record.id != transcoder || record.type < mplg::CounterInc || record.type > mplg::CounterSet)
                continue;
            const std::int64_t value = replay.Statistic(transcoder).value;
            if (value != base && value != base + 4096) {
                ADD_FAILURE() << "capture " << capture << " replays " << value - base << " bytes";
                ++impossible;
            }
        }
    }
    stop = true;
    counting.join();
    EXPECT_EQ(Bytes(transcoder), static_cast<double>(base));
    std::filesystem::remove(path);
}

#if defined(_WIN32)
namespace {

struct FiberStart {
    void* back;
};

// Counts once on the fiber (the thread's first count happens here), then returns to the thread's fiber.
VOID WINAPI CountOnFiber(LPVOID parameter) {
    const ContextInfo context = MARVANE_CONTEXT_INFO;
    GetAllocator()->Free(GetAllocator()->Alloc(16, AllocationCategory::Generic, context), context);
    SwitchToFiber(static_cast<FiberStart*>(parameter)->back);
}

} // namespace

// A thread's counters are the thread's, whatever fibers it runs: a fiber deleted on another thread, after
// the thread counted on it, must not take the counters from the thread that goes on counting.
TEST(AllocatorStatistics, CountersBelongToTheThreadWhateverFibersItRunsAndWhereverTheyAreDeleted) {
    const unsigned total = MemoryStatistic(L"Total");
    const double before = Bytes(total);
    std::vector<void*> blocks;
    double whileRunning = 0;
    std::thread counting([&] {
        FiberStart start{ConvertThreadToFiber(nullptr)};
        ASSERT_NE(start.back, nullptr);
        void* fiber = CreateFiber(0, CountOnFiber, &start);
        ASSERT_NE(fiber, nullptr);
        SwitchToFiber(fiber);
        std::thread([fiber] { DeleteFiber(fiber); }).join();
        // Another thread takes up counting meanwhile; it must get slots of its own.
        std::thread([] {
            const ContextInfo context = MARVANE_CONTEXT_INFO;
            void* block = GetAllocator()->Alloc(5000, AllocationCategory::Generic, context);
            GetAllocator()->Free(block, context);
        }).join();
        const ContextInfo context = MARVANE_CONTEXT_INFO;
        for (int i = 0; i < 1000; ++i)
            blocks.push_back(GetAllocator()->Alloc(1000, AllocationCategory::Generic, context));
        whileRunning = Bytes(total) - before;
        ConvertFiberToThread();
    });
    counting.join();
    EXPECT_EQ(whileRunning, 1000000.0);
    EXPECT_EQ(Bytes(total) - before, 1000000.0);
    const ContextInfo context = MARVANE_CONTEXT_INFO;
    for (void* block : blocks)
        GetAllocator()->Free(block, context);
    EXPECT_EQ(Bytes(total), before);
}
#endif
