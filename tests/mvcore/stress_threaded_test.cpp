#include "Marvane/Allocator.h"
#include "Marvane/JobSystem.h"
#include "Marvane/LogManager.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace Marvane;

namespace {

// Loggers run inside the manager's lock, so plain counters are enough here; a data race would be a
// fault of the manager and shows up under ThreadSanitizer.
class CountingLogger : public ILogger {
  public:
    void LogError(Error::Enum, const wchar_t*, const ContextInfo&) override { ++errors; }
    void LogWarning(const wchar_t*) override { ++warnings; }
    void LogMessage(const wchar_t*) override { ++messages; }
    long errors = 0, warnings = 0, messages = 0;
};

std::atomic<long> executed{0};
void Execute(void* job) {
    executed.fetch_add(1, std::memory_order_relaxed);
    const ContextInfo context = MARVANE_CONTEXT_INFO;
    // Jobs allocate and log too, on the worker thread.
    GetAllocator()->Free(GetAllocator()->Alloc(32, AllocationCategory::Temporary, context), context);
    GetLogManagerPrivate()->LogMessage(L"job %p", job);
}
unsigned Priority(void* job) {
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(job) % 7);
}

} // namespace

TEST(StressTest, ThreadsLogMuteAllocateAndScheduleAtOnce) {
    constexpr int Threads = 6;
    constexpr int Rounds = 2000;
    CountingLogger logger;
    LogManager* manager = GetLogManagerPrivate();
    ASSERT_EQ(manager->AddLogger(&logger), Error::Ok);
    Platform::JobSystem system;
    ASSERT_EQ(system.Init(L"Stress worker", Execute, nullptr, Priority), Error::Ok);

    std::atomic<long> accepted{0};
    std::atomic<long> warningsSent{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            const ContextInfo context = MARVANE_CONTEXT_INFO;
            const unsigned mutedId = 1000 + t; // each thread mutes its own identifier
            for (int i = 0; i < Rounds; ++i) {
                void* block =
                    GetAllocator()->AllocAligned(48 + i % 64, 32, AllocationCategory::Cache, context);
                ASSERT_NE(block, nullptr);
                manager->LogMessage(L"thread %d round %d", t, i);
                if (i % 2 == 0)
                    manager->MuteWarning(mutedId);
                else
                    manager->UnMuteWarning(mutedId);
                manager->LogWarning(mutedId, L"muted in even rounds");
                if (i % 2 == 1) ++warningsSent;
                if (system.Schedule(reinterpret_cast<void*>(static_cast<std::uintptr_t>(i + 1)))) ++accepted;
                if (i % 5 == 0) system.ExecuteJob();
                GetAllocator()->FreeAligned(block, context);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    ASSERT_EQ(system.Stop(), Error::Ok);
    EXPECT_EQ(manager->RemoveLogger(&logger), Error::Ok);

    EXPECT_GT(accepted.load(), 0);
    EXPECT_EQ(executed.load(), accepted.load()) << "every accepted job ran exactly once";
    EXPECT_EQ(logger.warnings, warningsSent.load()) << "exactly the unmuted warnings arrived";
    EXPECT_EQ(logger.messages, static_cast<long>(Threads) * Rounds + executed.load());
    EXPECT_EQ(logger.errors, 0);
}
