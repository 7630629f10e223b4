#include "Marvane/Allocator.h"
#include "Marvane/Core.h"
#include "Marvane/JobSystem.h"
#include "Marvane/LogManager.h"
#include "Marvane/Performance/PerformanceMonitor.h"
#include "support/CountingAllocator.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

using namespace Marvane;

namespace {

struct HeaderBytes {
    std::uint64_t size;
    std::uint16_t category;
    std::uint16_t alignment;
};

HeaderBytes ReadHeader(const void* user) {
    const auto* bytes = static_cast<const unsigned char*>(user) - 16;
    HeaderBytes header{};
    for (int i = 0; i < 8; ++i)
        header.size |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    header.category = static_cast<std::uint16_t>(bytes[8] | bytes[9] << 8);
    header.alignment = static_cast<std::uint16_t>(bytes[10] | bytes[11] << 8);
    return header;
}

class AllocatorTest : public ::testing::Test {
  protected:
    // The context names a function (the constructor): the predefined function name is only valid inside one.
    AllocatorTest() : context(MARVANE_CONTEXT_INFO) {}
    void SetUp() override { ASSERT_TRUE(scoped.Registered()); }
    ScopedCountingAllocator scoped;
    CountingAllocator& counting = scoped.allocator;
    const ContextInfo context;
};

} // namespace

TEST_F(AllocatorTest, PlainBlockHasSixteenByteHeaderInFrontOfTheUserPointer) {
    void* p = GetAllocator()->Alloc(100, AllocationCategory::Cache, context);
    ASSERT_NE(p, nullptr);
    auto calls = counting.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].op, CountingAllocator::Op::Alloc);
    EXPECT_EQ(calls[0].size, 116u);
    EXPECT_EQ(calls[0].category, 3u);
    EXPECT_EQ(calls[0].context, &context) << "the call site reaches the IAllocator unchanged";
    EXPECT_EQ(static_cast<unsigned char*>(calls[0].block) + 16, p);
    const HeaderBytes header = ReadHeader(p);
    EXPECT_EQ(header.size, 100u);
    EXPECT_EQ(header.category, 3u);
    EXPECT_EQ(header.alignment, 0u);

    GetAllocator()->Free(p, context);
    calls = counting.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].op, CountingAllocator::Op::Free);
    EXPECT_EQ(calls[1].block, calls[0].block);
    EXPECT_EQ(calls[1].context, &context);
}

TEST_F(AllocatorTest, AlignedBlockUsesTheSmallestAlignmentMultipleThatHoldsTheHeader) {
    struct Case {
        std::uint32_t alignment;
        std::uint64_t prefix;
    };
    for (const Case c :
         {Case{4, 16}, Case{8, 16}, Case{16, 16}, Case{32, 32}, Case{64, 64}, Case{4096, 4096}}) {
        counting.Clear();
        void* p = GetAllocator()->AllocAligned(100, c.alignment, AllocationCategory::Generic, context);
        ASSERT_NE(p, nullptr) << c.alignment;
        auto calls = counting.Calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].op, CountingAllocator::Op::AllocAligned);
        EXPECT_EQ(calls[0].size, 100 + c.prefix) << c.alignment;
        EXPECT_EQ(calls[0].alignment, c.alignment);
        EXPECT_EQ(static_cast<unsigned char*>(calls[0].block) + c.prefix, p);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % c.alignment, 0u);
        const HeaderBytes header = ReadHeader(p);
        EXPECT_EQ(header.size, 100u);
        EXPECT_EQ(header.category, 0u);
        EXPECT_EQ(header.alignment, c.alignment);

        GetAllocator()->FreeAligned(p, context);
        calls = counting.Calls();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[1].op, CountingAllocator::Op::FreeAligned);
        EXPECT_EQ(calls[1].block, calls[0].block) << "the raw block goes back, not the user pointer";
    }
}

TEST_F(AllocatorTest, ReleaseFollowsTheHeaderWhicheverReleaseIsCalled) {
    void* aligned = GetAllocator()->AllocAligned(10, 64, AllocationCategory::Buffer, context);
    void* plain = GetAllocator()->Alloc(10, AllocationCategory::Buffer, context);
    ASSERT_NE(aligned, nullptr);
    ASSERT_NE(plain, nullptr);
    const auto raws = counting.Calls();
    GetAllocator()->Free(aligned, context);
    GetAllocator()->FreeAligned(plain, context);
    const auto calls = counting.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[2].op, CountingAllocator::Op::FreeAligned);
    EXPECT_EQ(calls[2].block, raws[0].block);
    EXPECT_EQ(calls[3].op, CountingAllocator::Op::Free);
    EXPECT_EQ(calls[3].block, raws[1].block);
}

TEST_F(AllocatorTest, NullReleasesDoNothing) {
    GetAllocator()->Free(nullptr, context);
    GetAllocator()->FreeAligned(nullptr, context);
    EXPECT_TRUE(counting.Calls().empty());
}

TEST_F(AllocatorTest, RefusedAllocationsReturnNull) {
    counting.refuse = [](std::uint64_t) { return true; };
    EXPECT_EQ(GetAllocator()->Alloc(100, AllocationCategory::Cache, context), nullptr);
    EXPECT_EQ(GetAllocator()->AllocAligned(100, 32, AllocationCategory::Cache, context), nullptr);
    EXPECT_EQ(counting.Calls().size(), 2u);
}

TEST_F(AllocatorTest, UnusableSizesAndAlignmentsNeverReachTheIAllocator) {
    const auto huge = std::numeric_limits<std::uint64_t>::max() - 8;
    EXPECT_EQ(GetAllocator()->Alloc(huge, AllocationCategory::Generic, context), nullptr);
    EXPECT_EQ(GetAllocator()->AllocAligned(huge, 16, AllocationCategory::Generic, context), nullptr);
    EXPECT_EQ(GetAllocator()->AllocAligned(16, 0, AllocationCategory::Generic, context), nullptr);
    EXPECT_EQ(GetAllocator()->AllocAligned(16, 1u << 16, AllocationCategory::Generic, context), nullptr);
    // The block header keeps 16 bits of the category.
    const auto wide = static_cast<AllocationCategory::Enum>(0x10003);
    EXPECT_EQ(GetAllocator()->Alloc(100, wide, context), nullptr);
    EXPECT_EQ(GetAllocator()->AllocAligned(100, 16, wide, context), nullptr);
    EXPECT_TRUE(counting.Calls().empty());
}

TEST_F(AllocatorTest, ValidateHeapReachesTheIAllocator) {
    GetAllocator()->ValidateHeap();
    const auto calls = counting.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].op, CountingAllocator::Op::ValidateHeap);
}

TEST_F(AllocatorTest, CopiedAllocatorUsesTheSameIAllocator) {
    Allocator copy;
    copy = *GetAllocator();
    void* p = copy.Alloc(8, AllocationCategory::Temporary, context);
    ASSERT_NE(p, nullptr);
    copy.Free(p, context);
    EXPECT_EQ(counting.Calls().size(), 2u);
}

TEST_F(AllocatorTest, JobSystemObjectsLiveInAllocatorMemory) {
    auto* system = new Platform::JobSystem;
    ASSERT_NE(system, nullptr);
    auto* cached = new (AllocationCategory::Cache) Platform::JobSystem;
    ASSERT_NE(cached, nullptr);
    auto* many = new Platform::JobSystem[3];
    ASSERT_NE(many, nullptr);
    delete system;
    delete cached;
    delete[] many;

    const auto calls = counting.Calls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].size, sizeof(Platform::JobSystem) + 16);
    EXPECT_EQ(calls[0].category, 0u);
    EXPECT_EQ(calls[0].function, "Marvane::Platform::JobSystem::operator new");
    EXPECT_EQ(calls[1].category, 3u);
    EXPECT_EQ(calls[1].function, "Marvane::Platform::JobSystem::operator new");
    EXPECT_GE(calls[2].size, 3 * sizeof(Platform::JobSystem) + 16);
    EXPECT_EQ(calls[2].function, "Marvane::Platform::JobSystem::operator new[]");
    EXPECT_EQ(calls[3].function, "Marvane::Platform::JobSystem::operator delete");
    EXPECT_EQ(calls[3].block, calls[0].block);
    EXPECT_EQ(calls[4].function, "Marvane::Platform::JobSystem::operator delete");
    EXPECT_EQ(calls[4].block, calls[1].block);
    EXPECT_EQ(calls[5].function, "Marvane::Platform::JobSystem::operator delete[]");
    EXPECT_EQ(calls[5].block, calls[2].block);
}

TEST_F(AllocatorTest, JobSystemNewReturnsNullWhenRefused) {
    counting.refuse = [](std::uint64_t) { return true; };
    EXPECT_EQ(new Platform::JobSystem, nullptr);
    EXPECT_EQ(new (AllocationCategory::Context) Platform::JobSystem[2], nullptr);
}

TEST(CoreTest, RegisteringIsRefusedWhileTheCoreIsInitialised) {
    CountingAllocator counting;
    ASSERT_FALSE(IsCoreInitialized());
    EXPECT_EQ(InitializeCore(0), Error::Ok);
    EXPECT_TRUE(IsCoreInitialized());
    EXPECT_EQ(RegisterAllocator(&counting), Error::InvalidState);
    EXPECT_EQ(InitializeCore(0), Error::Ok);
    EXPECT_FALSE(ReleaseCore()) << "one of two initialisations released";
    EXPECT_TRUE(IsCoreInitialized());
    EXPECT_TRUE(ReleaseCore());
    EXPECT_FALSE(IsCoreInitialized());
    EXPECT_EQ(RegisterAllocator(&counting), Error::Ok);
    EXPECT_EQ(RegisterAllocator(nullptr), Error::Ok);
}

// A ReleaseCore without a matching InitializeCore is the caller's error: it is reported, and the count
// stays at 0 instead of wrapping (which would refuse RegisterAllocator for good).
TEST(CoreTest, AnUnbalancedReleaseIsReportedAndKeepsTheCountAtZero) {
    struct ErrorLogger : ILogger {
        void LogError(Error::Enum code, const wchar_t* text, const ContextInfo&) override {
            codes.push_back(code);
            texts.emplace_back(text);
        }
        void LogWarning(const wchar_t*) override {}
        void LogMessage(const wchar_t*) override {}
        std::vector<Error::Enum> codes;
        std::vector<std::wstring> texts;
    } logger;
    ASSERT_EQ(GetLogManager()->AddLogger(&logger), Error::Ok);
    ASSERT_FALSE(IsCoreInitialized());
    EXPECT_FALSE(ReleaseCore());
    EXPECT_FALSE(ReleaseCore());
    GetLogManager()->RemoveLogger(&logger);
    EXPECT_FALSE(IsCoreInitialized());
    ASSERT_EQ(logger.codes, (std::vector<Error::Enum>{Error::InvalidState, Error::InvalidState}));
    EXPECT_NE(logger.texts[0].find(L"ReleaseCore"), std::wstring::npos);
    CountingAllocator counting;
    EXPECT_EQ(RegisterAllocator(&counting), Error::Ok);
    EXPECT_EQ(RegisterAllocator(nullptr), Error::Ok);
    EXPECT_EQ(InitializeCore(0), Error::Ok);
    EXPECT_TRUE(IsCoreInitialized());
    EXPECT_TRUE(ReleaseCore()) << "one initialisation, one release";
    EXPECT_FALSE(IsCoreInitialized());
}

TEST(CoreTest, RefusedRegistrationKeepsTheActiveAllocator) {
    ScopedCountingAllocator scoped;
    ASSERT_TRUE(scoped.Registered());
    CountingAllocator other;
    ASSERT_EQ(InitializeCore(0), Error::Ok);
    EXPECT_EQ(RegisterAllocator(&other), Error::InvalidState);
    const ContextInfo context = MARVANE_CONTEXT_INFO;
    GetAllocator()->Free(GetAllocator()->Alloc(4, AllocationCategory::Generic, context), context);
    EXPECT_TRUE(ReleaseCore());
    EXPECT_EQ(scoped.allocator.Calls().size(), 2u);
    EXPECT_TRUE(other.Calls().empty());
}

TEST(CoreTest, DefaultAllocatorServesWhenNothingIsRegistered) {
    ASSERT_EQ(RegisterAllocator(nullptr), Error::Ok);
    const ContextInfo context = MARVANE_CONTEXT_INFO;
    // Before InitializeCore: the allocation still finds memory.
    void* early = GetAllocator()->Alloc(64, AllocationCategory::Generic, context);
    ASSERT_NE(early, nullptr);
    std::memset(early, 0xAB, 64);
    GetAllocator()->Free(early, context);

    ASSERT_EQ(RegisterAllocator(nullptr), Error::Ok);
    ASSERT_EQ(InitializeCore(0), Error::Ok);
    void* aligned = GetAllocator()->AllocAligned(256, 128, AllocationCategory::Graphics, context);
    ASSERT_NE(aligned, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % 128, 0u);
    std::memset(aligned, 0xCD, 256);
    GetAllocator()->FreeAligned(aligned, context);
    EXPECT_EQ(GetAllocator()->AllocAligned(16, 24, AllocationCategory::Generic, context), nullptr)
        << "the run-time heap only aligns to powers of two";
    EXPECT_TRUE(ReleaseCore());
}

TEST(CoreTest, CategoryNames) {
    EXPECT_STREQ(AllocationCategory::ToString(AllocationCategory::Generic), L"Generic");
    EXPECT_STREQ(AllocationCategory::ToString(AllocationCategory::Graphics), L"Graphics");
    EXPECT_STREQ(AllocationCategory::ToString(AllocationCategory::TileSetBackwardsCompatibility),
                 L"TileSet Backwards compatibility");
    EXPECT_STREQ(AllocationCategory::ToString(static_cast<AllocationCategory::Enum>(9)), L"Unknown");
}

namespace {

using Performance::GetPerformanceMonitor;
using Performance::StatisticValueMethod::Value;

std::uint32_t MemoryStatistic(const wchar_t* name) {
    unsigned int id = 0xFFFFFFFFu;
    EXPECT_TRUE(GetPerformanceMonitor()->FindStatistic(L"Memory", name, id)) << "no statistic";
    return id;
}

// Bytes the statistic currently reads (its MiB figure scaled back).
double Bytes(std::uint32_t id) {
    return GetPerformanceMonitor()->GetStatisticValue(id, Value) * 1048576.0;
}

} // namespace

TEST_F(AllocatorTest, CategoryStatisticsAreRegisteredInCategoryOrderAfterTheLoadTimeOnes) {
    GetAllocator()->Free(GetAllocator()->Alloc(1, AllocationCategory::Generic, context), context);
    const std::uint32_t first = MemoryStatistic(L"Generic");
    EXPECT_EQ(first, 9u);
    for (unsigned category = 0; category < AllocationCategory::Count; ++category) {
        const wchar_t* name = AllocationCategory::ToString(static_cast<AllocationCategory::Enum>(category));
        EXPECT_EQ(MemoryStatistic(name), first + category) << category;
        EXPECT_STREQ(GetPerformanceMonitor()->GetStatisticUnit(first + category, Value), L"MiB");
    }
    EXPECT_EQ(MemoryStatistic(L"Total"), 0u);
    EXPECT_STREQ(GetPerformanceMonitor()->GetStatisticDescription(first + 5),
                 L"Allocations by the transcoder(s)");
}

TEST_F(AllocatorTest, EveryAllocationAndReleaseMovesItsCategoryAndTheTotal) {
    GetAllocator()->Free(GetAllocator()->Alloc(1, AllocationCategory::Generic, context), context);
    const std::uint32_t cache = MemoryStatistic(L"Cache");
    const std::uint32_t buffer = MemoryStatistic(L"Buffer");
    const std::uint32_t total = MemoryStatistic(L"Total");
    const double cache0 = Bytes(cache), buffer0 = Bytes(buffer), total0 = Bytes(total);

    void* p = GetAllocator()->Alloc(100, AllocationCategory::Cache, context);
    EXPECT_DOUBLE_EQ(Bytes(cache) - cache0, 100.0);
    EXPECT_DOUBLE_EQ(Bytes(total) - total0, 100.0);
    void* q = GetAllocator()->AllocAligned(1000, 64, AllocationCategory::Buffer, context);
    EXPECT_DOUBLE_EQ(Bytes(buffer) - buffer0, 1000.0) << "the requested size, not header or padding";
    EXPECT_DOUBLE_EQ(Bytes(total) - total0, 1100.0);
    GetAllocator()->Free(p, context);
    GetAllocator()->FreeAligned(q, context);
    EXPECT_DOUBLE_EQ(Bytes(cache), cache0);
    EXPECT_DOUBLE_EQ(Bytes(buffer), buffer0);
    EXPECT_DOUBLE_EQ(Bytes(total), total0);
}

TEST_F(AllocatorTest, CategoriesOutsideTheHeaderAreRefusedUncounted) {
    GetAllocator()->Free(GetAllocator()->Alloc(1, AllocationCategory::Generic, context), context);
    const std::uint32_t cache = MemoryStatistic(L"Cache");
    const std::uint32_t total = MemoryStatistic(L"Total");
    const double cache0 = Bytes(cache), total0 = Bytes(total);
    // 0x10003 would keep 3 (Cache) in the header.
    const auto wide = static_cast<AllocationCategory::Enum>(0x10003);
    void* p = GetAllocator()->Alloc(100, wide, context);
    void* q = GetAllocator()->AllocAligned(100, 64, wide, context);
    GetAllocator()->Free(p, context);
    GetAllocator()->FreeAligned(q, context);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(q, nullptr);
    EXPECT_DOUBLE_EQ(Bytes(cache), cache0);
    EXPECT_DOUBLE_EQ(Bytes(total), total0);
    // Categories that fit, named or not, are still served.
    void* unnamed = GetAllocator()->Alloc(100, static_cast<AllocationCategory::Enum>(0xFFFF), context);
    EXPECT_NE(unnamed, nullptr);
    GetAllocator()->Free(unnamed, context);
    EXPECT_DOUBLE_EQ(Bytes(total), total0);
}

TEST_F(AllocatorTest, RefusedAllocationsKeepTheirAccountingAndHugeSizesWrap) {
    GetAllocator()->Free(GetAllocator()->Alloc(1, AllocationCategory::Generic, context), context);
    const std::uint32_t temporary = MemoryStatistic(L"Temporary");
    const std::uint32_t total = MemoryStatistic(L"Total");
    const double temporary0 = Bytes(temporary), total0 = Bytes(total);
    counting.refuse = [](std::uint64_t) { return true; };
    EXPECT_EQ(GetAllocator()->Alloc(300, AllocationCategory::Temporary, context), nullptr);
    EXPECT_DOUBLE_EQ(Bytes(temporary) - temporary0, 300.0) << "the amount added is not taken back";
    // 4 GiB + 5 bytes counts as +5: the counters take signed 32-bit amounts.
    EXPECT_EQ(GetAllocator()->Alloc((1ull << 32) + 5, AllocationCategory::Temporary, context), nullptr);
    EXPECT_DOUBLE_EQ(Bytes(temporary) - temporary0, 305.0);
    EXPECT_DOUBLE_EQ(Bytes(total) - total0, 305.0);
    // Restore the figures for tests that run after this one in the same process.
    GetPerformanceMonitor()->CounterSub(temporary, 305);
    GetPerformanceMonitor()->CounterSub(total, 305);
}
