#include "Marvane/Dictionary.h"
#include "support/CountingAllocator.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <vector>

using namespace Marvane;

namespace {

using WarningSet = Dictionary<unsigned int, bool>;

std::vector<unsigned> BucketKeys(const WarningSet& set, std::uint32_t bucket) {
    std::vector<unsigned> keys;
    for (auto* node = set.GetBucket(bucket)->head; node != nullptr; node = node->next)
        keys.push_back(node->key);
    return keys;
}

// Every node sits in bucket key mod bucket count, linked consistently both ways.
void ExpectConsistent(const WarningSet& set) {
    std::uint32_t total = 0;
    for (std::uint32_t b = 0; b < set.GetBucketCount(); ++b) {
        const auto* bucket = set.GetBucket(b);
        std::uint32_t count = 0;
        const WarningSet::Pair* previous = nullptr;
        for (auto* node = bucket->head; node != nullptr; node = node->next) {
            EXPECT_EQ(node->key % set.GetBucketCount(), b);
            EXPECT_EQ(node->previous, previous);
            previous = node;
            ++count;
        }
        EXPECT_EQ(bucket->tail, previous);
        EXPECT_EQ(bucket->count, count);
        total += count;
    }
    EXPECT_EQ(total, set.GetCount());
}

class DictionaryTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(scoped.Registered()); }
    ScopedCountingAllocator scoped;
    CountingAllocator& counting = scoped.allocator;
};

} // namespace

TEST_F(DictionaryTest, BucketsAppearWithTheFirstInsertion) {
    WarningSet set;
    EXPECT_EQ(set.GetBucketCount(), 0u);
    EXPECT_FALSE(set.Contains(7));
    EXPECT_FALSE(set.Remove(7));
    EXPECT_TRUE(counting.Calls().empty()) << "lookups on an empty set allocate nothing";
    EXPECT_EQ(set.Insert(7, true), Error::Ok);
    EXPECT_EQ(set.GetBucketCount(), 16u);
    EXPECT_TRUE(set.Contains(7));
    const auto calls = counting.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].size, 16 * sizeof(WarningSet::Bucket) + 16) << "bucket array first";
    EXPECT_EQ(calls[1].size, sizeof(WarningSet::Pair) + 16) << "then the node";
    EXPECT_EQ(calls[0].category, 0u);
    EXPECT_EQ(calls[1].category, 0u);
}

TEST_F(DictionaryTest, ThirtyThirdKeepsSixteenBucketsAndThirtyFourthRehashesToTwentyFour) {
    WarningSet set;
    for (unsigned key = 0; key < 33; ++key)
        ASSERT_EQ(set.Insert(key, true), Error::Ok);
    EXPECT_EQ(set.GetBucketCount(), 16u) << "32/16 = 2.0 is not above 2.0";
    ASSERT_EQ(set.Insert(33, true), Error::Ok);
    EXPECT_EQ(set.GetBucketCount(), 24u) << "33/16 > 2.0: max(33 + 16, 16) / 2";
    EXPECT_EQ(set.GetCount(), 34u);
    for (unsigned key = 0; key < 34; ++key)
        EXPECT_TRUE(set.Contains(key)) << key;
    ExpectConsistent(set);
    // Nodes move bucket by bucket, each from its head: old bucket 0 held 0, 16, 32 and old bucket 8
    // held 8, 24, so new bucket 8 receives 32 before 8 and new bucket 0 receives 0 before 24.
    EXPECT_EQ(BucketKeys(set, 8), (std::vector<unsigned>{32, 8}));
    EXPECT_EQ(BucketKeys(set, 0), (std::vector<unsigned>{0, 24}));
}

TEST_F(DictionaryTest, GrowsWithInsertionsAndNeverShrinks) {
    WarningSet set;
    for (unsigned key = 0; key < 1000; ++key)
        ASSERT_EQ(set.Insert(key * 7919u, true), Error::Ok);
    const std::uint32_t grown = set.GetBucketCount();
    EXPECT_GT(grown, 24u);
    EXPECT_LE(static_cast<double>(set.GetCount()) / grown, 2.0 + 1.0 / grown);
    ExpectConsistent(set);
    for (unsigned key = 0; key < 1000; ++key)
        ASSERT_TRUE(set.Remove(key * 7919u));
    EXPECT_EQ(set.GetCount(), 0u);
    EXPECT_EQ(set.GetBucketCount(), grown);
}

TEST_F(DictionaryTest, InsertingAnExistingKeyOverwritesItsValue) {
    Dictionary<unsigned int, int> map;
    ASSERT_EQ(map.Insert(5, 1), Error::Ok);
    ASSERT_EQ(map.Insert(5, 2), Error::Ok);
    EXPECT_EQ(map.GetCount(), 1u);
    ASSERT_NE(map.Find(5), nullptr);
    EXPECT_EQ(*map.Find(5), 2);
    EXPECT_EQ(map.Find(6), nullptr);
}

TEST_F(DictionaryTest, RemovalRelinksHeadMiddleAndTail) {
    WarningSet set;
    for (unsigned key : {3u, 19u, 35u, 51u, 67u}) // all in bucket 3
        ASSERT_EQ(set.Insert(key, true), Error::Ok);
    EXPECT_TRUE(set.Remove(35));
    EXPECT_EQ(BucketKeys(set, 3), (std::vector<unsigned>{3, 19, 51, 67}));
    EXPECT_TRUE(set.Remove(3));
    EXPECT_EQ(BucketKeys(set, 3), (std::vector<unsigned>{19, 51, 67}));
    EXPECT_TRUE(set.Remove(67));
    EXPECT_EQ(BucketKeys(set, 3), (std::vector<unsigned>{19, 51}));
    EXPECT_FALSE(set.Remove(67));
    EXPECT_EQ(set.GetCount(), 2u);
    ExpectConsistent(set);
}

TEST_F(DictionaryTest, FailedRehashKeepsTheOldBuckets) {
    WarningSet set;
    for (unsigned key = 0; key < 33; ++key)
        ASSERT_EQ(set.Insert(key, true), Error::Ok);
    const std::uint64_t rebuiltBytes = 24 * sizeof(WarningSet::Bucket);
    counting.refuse = [](std::uint64_t size) { return size == rebuiltBytes + 16; };
    ASSERT_EQ(set.Insert(33, true), Error::Ok);
    EXPECT_EQ(set.GetBucketCount(), 16u);
    EXPECT_EQ(set.GetCount(), 34u);
    for (unsigned key = 0; key < 34; ++key)
        EXPECT_TRUE(set.Contains(key)) << key;
    ExpectConsistent(set);
    counting.refuse = nullptr;
    ASSERT_EQ(set.Insert(34, true), Error::Ok);
    EXPECT_EQ(set.GetBucketCount(), 25u) << "the next insertion rebuilds: max(34 + 17, 16) / 2";
    ExpectConsistent(set);
}

TEST_F(DictionaryTest, RefusedMemoryInsertsNothing) {
    WarningSet set;
    counting.refuse = [](std::uint64_t) { return true; };
    EXPECT_EQ(set.Insert(1, true), Error::OutOfMemory);
    EXPECT_EQ(set.GetBucketCount(), 0u);
    counting.refuse = [](std::uint64_t size) { return size == sizeof(WarningSet::Pair) + 16; };
    EXPECT_EQ(set.Insert(1, true), Error::OutOfMemory);
    EXPECT_EQ(set.GetCount(), 0u);
    EXPECT_FALSE(set.Contains(1));
}

TEST_F(DictionaryTest, AgreesWithStdMapAndReleasesEverything) {
    {
        Dictionary<unsigned int, int> map;
        std::map<unsigned, int> reference;
        std::mt19937 random(1234);
        for (int step = 0; step < 20000; ++step) {
            const unsigned key = random() % 3000;
            if (random() % 3 == 0) {
                EXPECT_EQ(map.Remove(key), reference.erase(key) == 1);
            } else {
                const int value = static_cast<int>(random());
                ASSERT_EQ(map.Insert(key, value), Error::Ok);
                reference[key] = value;
            }
        }
        ASSERT_EQ(map.GetCount(), reference.size());
        for (const auto& [key, value] : reference) {
            ASSERT_NE(map.Find(key), nullptr);
            EXPECT_EQ(*map.Find(key), value);
        }
    }
    EXPECT_EQ(counting.LiveBlocks(), 0);
}
