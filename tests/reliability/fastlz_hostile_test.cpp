// The FastLZ decompressor on damaged and hostile blocks: whatever the block, it writes nothing past the
// capacity it is given and reads nothing past the block (the sanitizer builds see every stray access,
// because every buffer here is exactly as large as the call is told).

#include "hostile_inputs.h"

#include <Marvane/Utilities/Compressor.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

using Marvane::Utilities::Compressor;

namespace {

// Decompresses `block` from a copy of exactly its size into exactly `capacity` bytes.
uint64_t decompress_exact(const std::vector<uint8_t>& block, uint64_t capacity, std::vector<uint8_t>& out) {
    auto input = std::make_unique<uint8_t[]>(block.empty() ? 1 : block.size());
    std::copy(block.begin(), block.end(), input.get());
    auto output = std::make_unique<uint8_t[]>(capacity == 0 ? 1 : capacity);
    const uint64_t restored = Compressor::Decompress(input.get(), block.size(), output.get(), capacity);
    out.assign(output.get(), output.get() + std::min(restored, capacity));
    return restored;
}

struct Vector {
    std::string name;
    std::vector<uint8_t> original;
    std::vector<uint8_t> block;
};

// The reference vectors of at most 70,000 bytes, both levels.
std::vector<Vector> reference_vectors() {
    std::vector<Vector> vectors;
    const auto dir = source_root() / "tests/data/fastlz-vectors";
    if (!std::filesystem::is_directory(dir)) return vectors;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".in") continue;
        const auto original = read_file_bytes(entry.path());
        if (original.size() > 70000) continue;
        for (const char* level : {".l1", ".l2"}) {
            auto block_path = entry.path();
            block_path.replace_extension(level);
            vectors.push_back({block_path.filename().string(), original, read_file_bytes(block_path)});
        }
    }
    return vectors;
}

TEST(FastLzHostile, RegressionInputsStayInsideEveryCapacity) {
    const auto inputs = regression_inputs("fastlz_decompress_");
    ASSERT_FALSE(inputs.empty());
    for (const auto& path : inputs) {
        const auto block = read_file_bytes(path);
        std::vector<uint8_t> full;
        const uint64_t restored = decompress_exact(block, uint64_t{1} << 20, full);
        for (uint64_t capacity = 0; capacity <= restored + 2; ++capacity) {
            std::vector<uint8_t> out;
            const uint64_t got = decompress_exact(block, capacity, out);
            if (capacity < restored) {
                EXPECT_EQ(got, 0u) << path << " capacity " << capacity;
            } else {
                EXPECT_EQ(got, restored) << path << " capacity " << capacity;
                EXPECT_EQ(out, full) << path;
            }
        }
    }
}

TEST(FastLzHostile, BlocksCutAtEveryByteNeverOverrun) {
    const auto vectors = reference_vectors();
    ASSERT_FALSE(vectors.empty()) << "no FastLZ reference vectors in tests/data/fastlz-vectors";
    for (const auto& v : vectors) {
        const size_t step = std::max<size_t>(1, v.block.size() / 500);
        for (size_t cut = 0; cut < v.block.size(); cut += step) {
            const std::vector<uint8_t> head(v.block.begin(),
                                            v.block.begin() + static_cast<std::ptrdiff_t>(cut));
            std::vector<uint8_t> out;
            const uint64_t got = decompress_exact(head, v.original.size(), out);
            ASSERT_LE(got, v.original.size()) << v.name << " cut " << cut;
            // Whatever a cut block restores is the start of the original.
            EXPECT_TRUE(std::equal(out.begin(), out.end(), v.original.begin())) << v.name << " cut " << cut;
        }
    }
}

TEST(FastLzHostile, FlippedBitsNeverOverrun) {
    const auto vectors = reference_vectors();
    ASSERT_FALSE(vectors.empty()) << "no FastLZ reference vectors in tests/data/fastlz-vectors";
    std::mt19937 rng(20261207);
    for (const auto& v : vectors) {
        if (v.block.empty()) continue;
        for (int trial = 0; trial < 200; ++trial) {
            auto damaged = v.block;
            for (int flips = 1 + static_cast<int>(rng() % 4); flips > 0; --flips)
                damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            for (uint64_t capacity : {uint64_t{0}, uint64_t{7}, uint64_t{v.original.size()}}) {
                std::vector<uint8_t> out;
                ASSERT_LE(decompress_exact(damaged, capacity, out), capacity) << v.name << " trial " << trial;
            }
        }
    }
}

TEST(FastLzHostile, RandomBlocksStayInsideSmallCapacities) {
    for (uint32_t seed = 1; seed <= 2000; ++seed) {
        auto block = random_bytes(1 + seed % 64, seed);
        block[0] &= 0x3F; // levels 1 and 2 only, so the block is really decoded
        for (uint64_t capacity : {uint64_t{0}, uint64_t{1}, uint64_t{16}, uint64_t{300}}) {
            std::vector<uint8_t> out;
            ASSERT_LE(decompress_exact(block, capacity, out), capacity) << "seed " << seed;
        }
    }
}

} // namespace
