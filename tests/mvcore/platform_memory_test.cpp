#include "Marvane/Platform/Memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace Marvane;

TEST(PlatformMemoryTest, AlignedBlocksHonourEveryPowerOfTwo) {
    for (u64 alignment = 1; alignment <= 65536; alignment *= 2) {
        for (u64 size : {u64{1}, u64{100}, u64{4096}, u64{100000}}) {
            auto* block = static_cast<unsigned char*>(Platform::AlignedAlloc(size, alignment));
            ASSERT_NE(block, nullptr) << size << " at " << alignment;
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignment, 0u);
            block[0] = 1;
            block[size - 1] = 2; // the whole block is usable
            Platform::AlignedFree(block);
        }
    }
}

TEST(PlatformMemoryTest, AlignmentThatIsNoPowerOfTwoIsRefused) {
    EXPECT_EQ(Platform::AlignedAlloc(64, 0), nullptr);
    EXPECT_EQ(Platform::AlignedAlloc(64, 3), nullptr);
    EXPECT_EQ(Platform::AlignedAlloc(64, 48), nullptr);
    Platform::AlignedFree(nullptr);
}

TEST(PlatformMemoryTest, ClearAndCopy) {
    std::vector<unsigned char> a(300), b(300, 0xAA);
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] = static_cast<unsigned char>(i * 7);
    Platform::MemoryCopy(b.data() + 10, a.data(), 200);
    for (std::size_t i = 0; i < b.size(); ++i)
        EXPECT_EQ(b[i], i >= 10 && i < 210 ? a[i - 10] : 0xAA) << i;
    Platform::MemoryClear(b.data() + 50, 100);
    for (std::size_t i = 50; i < 150; ++i)
        EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(b[49], a[39]);
    EXPECT_EQ(b[150], a[140]);
    // Empty ranges may come with null pointers.
    Platform::MemoryCopy(nullptr, nullptr, 0);
    Platform::MemoryClear(nullptr, 0);
}
