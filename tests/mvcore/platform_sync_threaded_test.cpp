// Included first on purpose: <windows.h> defines InterlockedAdd as a macro, which the layer's header
// must survive.
#if defined(_WIN32)
#include <windows.h>
#endif

#include "Marvane/Platform/Atomic.h"
#include "Marvane/Platform/CriticalSection.h"
#include "Marvane/Platform/TLSVariable.h"

#include <gtest/gtest.h>

#include <climits>
#include <thread>
#include <vector>

using namespace Marvane;

namespace {

// Runs `body(index)` on `count` threads at once and waits for all of them.
template <typename Body> void OnThreads(int count, Body body) {
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back(body, i);
    for (auto& thread : threads)
        thread.join();
}

} // namespace

TEST(PlatformCriticalSectionTest, OwnerMayEnterAgainOthersMayNot) {
    Platform::CriticalSection lock;
    lock.Enter();
    EXPECT_TRUE(lock.TryEnter());
    bool otherGotIt = true;
    std::thread([&] { otherGotIt = lock.TryEnter(); }).join();
    EXPECT_FALSE(otherGotIt);
    lock.Leave();
    // Still held once.
    std::thread([&] { otherGotIt = lock.TryEnter(); }).join();
    EXPECT_FALSE(otherGotIt);
    lock.Leave();
    std::thread([&] {
        otherGotIt = lock.TryEnter();
        if (otherGotIt) lock.Leave();
    }).join();
    EXPECT_TRUE(otherGotIt);
}

TEST(PlatformCriticalSectionTest, ExcludesConcurrentUpdates) {
    Platform::CriticalSection lock;
    long long counter = 0; // deliberately not atomic
    OnThreads(4, [&](int) {
        for (int i = 0; i < 20000; ++i) {
            lock.Enter();
            lock.Enter(); // re-entered and left twice
            ++counter;
            lock.Leave();
            lock.Leave();
        }
    });
    EXPECT_EQ(counter, 4 * 20000);
}

TEST(PlatformTLSVariableTest, EachThreadSeesItsOwnValue) {
    Platform::TLSVariable variable;
    EXPECT_EQ(variable.GetIndex(), Platform::TLSVariable::NoSlot);
    EXPECT_EQ(variable.GetValue(), nullptr);
    variable.SetValue(&variable); // no slot: ignored
    EXPECT_EQ(variable.GetValue(), nullptr);

    variable.Initialize();
    ASSERT_NE(variable.GetIndex(), Platform::TLSVariable::NoSlot);
    EXPECT_EQ(variable.GetValue(), nullptr);
    int mine = 0;
    variable.SetValue(&mine);

    std::vector<int> values(4);
    std::vector<int> ok(4, 0);
    OnThreads(4, [&](int index) {
        const bool startsEmpty = variable.GetValue() == nullptr;
        variable.SetValue(&values[index]);
        std::this_thread::yield();
        ok[index] = startsEmpty && variable.GetValue() == &values[index];
    });
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(ok[i]) << i;
    EXPECT_EQ(variable.GetValue(), &mine);

    // A copy names the same slot.
    Platform::TLSVariable copy;
    copy = variable;
    EXPECT_EQ(copy.GetIndex(), variable.GetIndex());
    EXPECT_EQ(copy.GetValue(), &mine);

    variable.Destroy();
    EXPECT_EQ(variable.GetIndex(), Platform::TLSVariable::NoSlot);
    EXPECT_EQ(variable.GetValue(), nullptr);
}

TEST(PlatformInterlockedTest, ReturnNewValues) {
    int value = 1;
    EXPECT_EQ(Platform::InterlockedDec(value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(Platform::InterlockedInc(value), 1);
    EXPECT_EQ(Platform::InterlockedAdd(value, 41), 42);
    EXPECT_EQ(Platform::InterlockedAdd(value, -50), -8);
    EXPECT_EQ(value, -8);

    i64 wide = 1;
    EXPECT_EQ(Platform::InterlockedDec64(wide), 0);
    wide = (i64{1} << 40);
    EXPECT_EQ(Platform::InterlockedInc64(wide), (i64{1} << 40) + 1);
}

TEST(PlatformInterlockedTest, OverflowWrapsAround) {
    int value = INT_MAX;
    EXPECT_EQ(Platform::InterlockedInc(value), INT_MIN);
    EXPECT_EQ(Platform::InterlockedDec(value), INT_MAX);
    EXPECT_EQ(Platform::InterlockedAdd(value, 2), INT_MIN + 1);
    i64 wide = INT64_MIN;
    EXPECT_EQ(Platform::InterlockedDec64(wide), INT64_MAX);
}

TEST(PlatformInterlockedTest, ConcurrentUpdatesAreNotLost) {
    int counter = 0;
    int added = 0;
    i64 wide = 0;
    OnThreads(4, [&](int index) {
        for (int i = 0; i < 50000; ++i) {
            Platform::InterlockedInc(counter);
            Platform::InterlockedAdd(added, index + 1);
            if (index % 2 == 0)
                Platform::InterlockedInc64(wide);
            else
                Platform::InterlockedDec64(wide);
        }
    });
    EXPECT_EQ(counter, 4 * 50000);
    EXPECT_EQ(added, (1 + 2 + 3 + 4) * 50000);
    EXPECT_EQ(wide, 0);
}

TEST(PlatformInterlockedTest, FencesPublishData) {
    // A writer publishes a payload behind a flag; the reader that sees the flag must see the payload.
    int payload = 0;
    int flag = 0;
    bool seen = false;
    std::thread reader([&] {
        while (__atomic_load_n(&flag, __ATOMIC_RELAXED) == 0)
            std::this_thread::yield();
        Platform::LoadMemoryFence();
        seen = __atomic_load_n(&payload, __ATOMIC_RELAXED) == 1234;
    });
    __atomic_store_n(&payload, 1234, __ATOMIC_RELAXED);
    Platform::StoreMemoryFence();
    __atomic_store_n(&flag, 1, __ATOMIC_RELAXED);
    reader.join();
    EXPECT_TRUE(seen);
}
