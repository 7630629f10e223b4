#include "Marvane/Array.h"
#include "Marvane/String/Dynamic.h"
#include "support/CountingAllocator.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>

using namespace Marvane;

namespace {

class ArrayTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(scoped.Registered()); }
    ScopedCountingAllocator scoped;
    CountingAllocator& counting = scoped.allocator;
};

} // namespace

TEST_F(ArrayTest, StorageIsZeroedAndReleasedOnce) {
    {
        Array<std::uint32_t> array;
        EXPECT_TRUE(array.IsEmpty());
        ASSERT_EQ(array.Initialize(100, AllocationCategory::Buffer), Error::Ok);
        EXPECT_EQ(array.GetCount(), 100u);
        for (std::uint32_t i = 0; i < 100; ++i)
            EXPECT_EQ(array[i], 0u);
        EXPECT_EQ(array.Initialize(5), Error::InvalidState) << "storage already held";
        EXPECT_EQ(array.GetCount(), 100u);
        const auto calls = counting.Calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].size, 400u + 16);
        EXPECT_EQ(calls[0].category, 4u);
        EXPECT_NE(calls[0].function.find("InitializeInternal"), std::string::npos) << calls[0].function;
        array.Release();
        EXPECT_TRUE(array.IsEmpty());
        EXPECT_EQ(array.GetCount(), 0u);
        array.Release();
    }
    EXPECT_EQ(counting.Calls().size(), 2u);
    EXPECT_EQ(counting.LiveBlocks(), 0);
}

TEST_F(ArrayTest, ZeroCountHoldsNoStorage) {
    Array<unsigned char> array;
    EXPECT_EQ(array.Initialize(0), Error::Ok);
    EXPECT_TRUE(array.IsEmpty());
    EXPECT_TRUE(counting.Calls().empty());
}

TEST_F(ArrayTest, AlignedStorageGoesBackThroughTheAlignedRelease) {
    {
        Array<double> array;
        ASSERT_EQ(array.InitializeAligned(10, 64), Error::Ok);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(array.GetData()) % 64, 0u);
    }
    const auto calls = counting.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].op, CountingAllocator::Op::AllocAligned);
    EXPECT_EQ(calls[1].op, CountingAllocator::Op::FreeAligned);
    EXPECT_EQ(calls[1].block, calls[0].block);
}

TEST_F(ArrayTest, RefusedStorageIsOutOfMemory) {
    counting.refuse = [](std::uint64_t) { return true; };
    Array<unsigned char> array;
    EXPECT_EQ(array.Initialize(10), Error::OutOfMemory);
    EXPECT_TRUE(array.IsEmpty());
}

TEST_F(ArrayTest, MovedArrayKeepsTheOnlyReference) {
    {
        Array<int> first;
        ASSERT_EQ(first.Initialize(4), Error::Ok);
        first[2] = 42;
        Array<int> second(std::move(first));
        EXPECT_TRUE(first.IsEmpty());
        EXPECT_EQ(second[2], 42);
    }
    EXPECT_EQ(counting.LiveBlocks(), 0);
}

TEST_F(ArrayTest, DynamicStringCopiesWithItsTerminator) {
    String::Dynamic text;
    EXPECT_STREQ(text.GetString(), L"");
    ASSERT_EQ(text.Initialize(L"texture", AllocationCategory::Cache), Error::Ok);
    EXPECT_STREQ(text.GetString(), L"texture");
    EXPECT_EQ(text.GetCount(), 8u) << "the count includes the NUL";
    EXPECT_EQ(text.GetLength(), 7u);
    EXPECT_EQ(text.Initialize(L"again"), Error::InvalidState);

    String::Dynamic copy;
    ASSERT_EQ(copy.Initialize(text, AllocationCategory::Temporary), Error::Ok);
    EXPECT_STREQ(copy.GetString(), L"texture");
    EXPECT_NE(copy.GetData(), text.GetData());

    for (const auto& call : counting.Calls())
        EXPECT_EQ(call.category, 0u) << "dynamic strings are always Generic";
}

TEST_F(ArrayTest, DynamicStringFromNullOrEmptyIsEmpty) {
    String::Dynamic fromNull;
    ASSERT_EQ(fromNull.Initialize(static_cast<const wchar_t*>(nullptr)), Error::Ok);
    EXPECT_STREQ(fromNull.GetString(), L"");
    EXPECT_EQ(fromNull.GetLength(), 0u);
    String::Dynamic empty;
    String::Dynamic copy;
    ASSERT_EQ(copy.Initialize(empty), Error::Ok);
    EXPECT_STREQ(copy.GetString(), L"");
}

TEST_F(ArrayTest, DynamicStringReportsRefusedMemory) {
    counting.refuse = [](std::uint64_t) { return true; };
    String::Dynamic text;
    EXPECT_EQ(text.Initialize(L"abc"), Error::OutOfMemory);
    EXPECT_TRUE(text.IsEmpty());
}

TEST_F(ArrayTest, DuplicateStringUsesTheGivenCategoryAndCallSite) {
    const ContextInfo context = MARVANE_CONTEXT_INFO;
    wchar_t* copy = String::DuplicateString(L"Hello", AllocationCategory::Transcoder, context);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, L"Hello");
    const auto calls = counting.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].size, 6 * sizeof(wchar_t) + 16);
    EXPECT_EQ(calls[0].category, 5u);
    EXPECT_EQ(calls[0].context, &context);
    GetAllocator()->Free(copy, context);

    EXPECT_EQ(String::DuplicateString(nullptr, AllocationCategory::Generic, context), nullptr);
    counting.refuse = [](std::uint64_t) { return true; };
    EXPECT_EQ(String::DuplicateString(L"x", AllocationCategory::Generic, context), nullptr);
}
