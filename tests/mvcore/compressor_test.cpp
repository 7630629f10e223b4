#include "Marvane/Utilities/Compressor.h"
#include "random_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using Marvane::Utilities::Compressor;
using Bytes = std::vector<unsigned char>;

namespace {

// Reference blocks written by FastLZ 0.5.0 itself: X.in, X.l1 and X.l2.
std::filesystem::path VectorDirectory() {
    const char* root = std::getenv("PROJECT_SOURCE_DIR");
    std::string path = std::string(root != nullptr ? root : ".") + "/tests/data/fastlz-vectors";
#if defined(_WIN32)
    // Under wine the Unix tree is drive Z:.
    if (!path.empty() && path[0] == '/') {
        std::replace(path.begin(), path.end(), '/', '\\');
        path = "Z:" + path;
    }
#endif
    return std::filesystem::path(path);
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct Vector {
    std::string name;
    Bytes input, level1, level2;
};

std::vector<Vector> LoadVectors() {
    std::vector<Vector> vectors;
    const auto directory = VectorDirectory();
    if (!std::filesystem::is_directory(directory)) return vectors;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (entry.path().extension() != ".in") continue;
        auto base = entry.path();
        Vector v{base.stem().string(), ReadFile(base), ReadFile(base.replace_extension(".l1")),
                 ReadFile(base.replace_extension(".l2"))};
        vectors.push_back(std::move(v));
    }
    std::sort(vectors.begin(), vectors.end(),
              [](const Vector& a, const Vector& b) { return a.name < b.name; });
    return vectors;
}

Bytes Compress(int level, const Bytes& input) {
    Bytes output(Compressor::CalculateBufferSize(input.size()));
    const std::uint64_t size = Compressor::Compress_level(level, input.data(), input.size(), output.data());
    EXPECT_LE(size, output.size());
    output.resize(size);
    return output;
}

// Decompresses into exactly `capacity` bytes followed by a guard zone that must stay untouched, from an
// input buffer of exactly the block's size (so a sanitizer sees any read past it).
std::uint64_t GuardedDecompress(const Bytes& block, std::uint64_t capacity, Bytes* restored = nullptr) {
    const Bytes input(block);
    Bytes output(capacity + 64, 0xA5);
    const std::uint64_t size =
        Compressor::Decompress(input.empty() ? nullptr : input.data(), input.size(), output.data(), capacity);
    for (std::size_t i = capacity; i < output.size(); ++i)
        if (output[i] != 0xA5) {
            ADD_FAILURE() << "wrote past capacity at " << i;
            break;
        }
    if (restored != nullptr)
        restored->assign(output.begin(),
                         output.begin() + static_cast<std::ptrdiff_t>(std::min(size, capacity)));
    return size;
}

void ExpectRoundTrip(const Bytes& input, const std::string& what) {
    for (int level : {1, 2}) {
        const Bytes block = Compress(level, input);
        ASSERT_FALSE(block.empty()) << what;
        EXPECT_EQ(block[0] >> 5, level - 1) << what;
        Bytes restored;
        ASSERT_EQ(GuardedDecompress(block, input.size(), &restored), input.size())
            << what << " level " << level;
        EXPECT_TRUE(restored == input) << what << " level " << level;
    }
}

// Words from a small vocabulary: matches of every length at short distances.
Bytes TextLike(std::size_t size, unsigned seed) {
    static const char* const words[] = {"the ",   "texture ",    "stream ", "block ", "of ",  "mip ",
                                        "level ", "compressed ", "\n",      "0x1F, ", "data "};
    std::mt19937 random(seed);
    Bytes bytes;
    while (bytes.size() < size)
        for (const char* w = words[random() % std::size(words)]; *w != '\0' && bytes.size() < size; ++w)
            bytes.push_back(static_cast<unsigned char>(*w));
    return bytes;
}

} // namespace

TEST(Compressor, BufferSizeIsFivePercentMoreButAtLeast66) {
    EXPECT_EQ(Compressor::CalculateBufferSize(0), 66u);
    EXPECT_EQ(Compressor::CalculateBufferSize(62), 66u);
    EXPECT_EQ(Compressor::CalculateBufferSize(1000), 1050u);
    EXPECT_EQ(Compressor::CalculateBufferSize(1001), 1052u);
    EXPECT_EQ(Compressor::CalculateBufferSize(1u << 30), (1u << 30) + ((1u << 30) + 19) / 20);
}

TEST(Compressor, UnknownLevelsAndArgumentsAreRefused) {
    const Bytes input = TextLike(500, 1);
    Bytes output(Compressor::CalculateBufferSize(input.size()), 0);
    EXPECT_EQ(Compressor::Compress_level(3, input.data(), input.size(), output.data()), 0u);
    EXPECT_EQ(Compressor::Compress_level(0, input.data(), input.size(), output.data()), 0u);
    EXPECT_EQ(Compressor::Compress_level(1, nullptr, input.size(), output.data()), 0u);
    EXPECT_EQ(Compressor::Compress_level(1, input.data(), 0, output.data()), 0u);

    for (unsigned first = 0x40; first <= 0xFF; first += 0x20) {
        Bytes block = Compress(1, input);
        block[0] = static_cast<unsigned char>(first | (block[0] & 31));
        EXPECT_EQ(GuardedDecompress(block, input.size()), 0u) << "first byte " << first;
    }
    EXPECT_EQ(GuardedDecompress(Bytes{}, 100), 0u);
}

TEST(Compressor, EveryReferenceBlockDecompressesAndOursAreIdentical) {
    const auto vectors = LoadVectors();
    ASSERT_FALSE(vectors.empty()) << "no reference blocks in " << VectorDirectory().string();
    int identical = 0;
    int blocks = 0;
    for (const auto& v : vectors) {
        const Bytes* references[] = {&v.level1, &v.level2};
        for (int level : {1, 2}) {
            const Bytes& reference = *references[level - 1];
            Bytes restored;
            EXPECT_EQ(GuardedDecompress(reference, v.input.size(), &restored), v.input.size()) << v.name;
            EXPECT_TRUE(restored == v.input) << v.name << " level " << level;
            // More room than needed changes nothing.
            EXPECT_EQ(GuardedDecompress(reference, v.input.size() + 1000), v.input.size()) << v.name;

            const Bytes ours = Compress(level, v.input);
            EXPECT_EQ(GuardedDecompress(ours, v.input.size(), &restored), v.input.size()) << v.name;
            EXPECT_TRUE(restored == v.input) << v.name << " level " << level;
            EXPECT_TRUE(ours == reference) << v.name << " level " << level << ": ours " << ours.size()
                                           << " bytes, reference " << reference.size();
            ++blocks;
            identical += ours == reference;
        }
    }
    std::printf("[          ] %d of %d compressed blocks byte-identical to FastLZ 0.5.0's\n", identical,
                blocks);
}

TEST(Compressor, RoundTripsAtBothLevels) {
    for (std::size_t size = 1; size <= 300; ++size) {
        ExpectRoundTrip(random_bytes(size, static_cast<unsigned>(size)), "random " + std::to_string(size));
        ExpectRoundTrip(TextLike(size, static_cast<unsigned>(size)), "text " + std::to_string(size));
        ExpectRoundTrip(Bytes(size, 0x33), "run " + std::to_string(size));
    }
    ExpectRoundTrip(TextLike(1 << 20, 3), "text 1 MiB");
    ExpectRoundTrip(random_bytes(200000, 4), "random 200 KB");
    // Runs longer than one level-1 match and level-2 length bytes of 255 and more.
    Bytes runs;
    for (std::size_t length : {263u, 264u, 265u, 266u, 527u, 528u, 529u, 1000u, 70000u}) {
        runs.insert(runs.end(), length, static_cast<unsigned char>(length));
        runs.push_back(0);
    }
    ExpectRoundTrip(runs, "runs");
}

TEST(Compressor, FarRepeatsUseLevel2sLongDistances) {
    // A random block repeated at distances around the limits of both formats.
    for (std::size_t distance : {8191u, 8192u, 8193u, 20000u, 65535u + 8191u, 65535u + 8192u, 80000u}) {
        Bytes input = random_bytes(distance, static_cast<unsigned>(distance));
        const Bytes head(input.begin(), input.begin() + 3000);
        input.insert(input.end(), head.begin(), head.end());
        ExpectRoundTrip(input, "distance " + std::to_string(distance));
        // Level 1 reaches 8,191 bytes back, level 2 up to 73,724.
        if (distance > 8191 && distance < 65535u + 8191u - 1) {
            EXPECT_LT(Compress(2, input).size() + 2000, Compress(1, input).size()) << distance;
        }
    }
}

TEST(Compressor, UnknownRoomMayBeGivenAsTheLargestCapacity) {
    const Bytes input = TextLike(5000, 6);
    for (int level : {1, 2}) {
        const Bytes block = Compress(level, input);
        Bytes restored(input.size() + 64);
        EXPECT_EQ(Compressor::Decompress(block.data(), block.size(), restored.data(), UINT64_MAX),
                  input.size());
        EXPECT_TRUE(std::equal(input.begin(), input.end(), restored.begin()));
    }
}

TEST(Compressor, TooSmallCapacityFailsWithoutWritingPastIt) {
    const Bytes input = TextLike(20000, 8);
    for (int level : {1, 2}) {
        const Bytes block = Compress(level, input);
        for (std::uint64_t capacity : {0u, 1u, 2u, 31u, 32u, 33u, 100u, 19999u})
            EXPECT_EQ(GuardedDecompress(block, capacity), 0u) << "capacity " << capacity;
    }
}

TEST(Compressor, TruncatedBlocksFailOrYieldAPrefix) {
    const Bytes input = TextLike(3000, 9);
    for (int level : {1, 2}) {
        const Bytes block = Compress(level, input);
        int failures = 0;
        for (std::size_t cut = 0; cut < block.size(); ++cut) {
            const Bytes truncated(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(cut));
            Bytes restored;
            const std::uint64_t size = GuardedDecompress(truncated, input.size(), &restored);
            if (size == 0) {
                ++failures;
                continue;
            }
            // A cut between two instructions leaves a shorter valid block.
            ASSERT_LT(size, input.size());
            EXPECT_TRUE(std::equal(restored.begin(), restored.end(), input.begin())) << "cut " << cut;
        }
        EXPECT_GT(failures, static_cast<int>(block.size()) / 3) << "level " << level;
    }
}

TEST(Compressor, HostileBlocksFailCleanly) {
    const std::vector<Bytes> hostile = {
        {0x00},                        // a literal run with nothing to copy
        {0x05, 'a', 'b'},              // run of 6, 2 bytes present
        {0x00, 'a', 0x20, 0x01},       // distance 2 with 1 byte written
        {0x00, 'a', 0x3F, 0xFF},       // distance 8192 at the start
        {0x00, 'a', 0xE0},             // long match without its length byte
        {0x00, 'a', 0xE0, 0x05},       // long match without its distance byte
        {0x20, 'a', 0xE0, 255, 255},   // level 2 length bytes running off the end
        {0x20, 'a', 0x3F, 0xFF},       // level 2 far distance without its two bytes
        {0x20, 'a', 0x3F, 0xFF, 0x00}, // ... with one of them
        {0x20, 'a', 0x3F, 0xFF, 0, 0}, // far distance 8192 with 1 byte written
        {0x00, 'a', 0x20, 0x00, 0x1F}, // a trailing instruction byte with nothing after it
    };
    for (const auto& block : hostile)
        for (std::uint64_t capacity : {0u, 1u, 16u, 100000u})
            EXPECT_EQ(GuardedDecompress(block, capacity), 0u) << "block of " << block.size() << " bytes";
    EXPECT_EQ(GuardedDecompress(Bytes{0x00, 'a', 0x20, 0x00}, 16), 4u); // the smallest valid match
}

TEST(Compressor, CorruptedBlocksNeverAccessOutsideTheBuffers) {
    const Bytes input = TextLike(4000, 10);
    std::mt19937 random(12);
    for (int level : {1, 2}) {
        const Bytes block = Compress(level, input);
        for (int trial = 0; trial < 2000; ++trial) {
            Bytes damaged = block;
            const int flips = 1 + static_cast<int>(random() % 4);
            for (int f = 0; f < flips; ++f)
                damaged[random() % damaged.size()] ^= static_cast<unsigned char>(1u << (random() % 8));
            const std::uint64_t capacity = random() % 2 ? input.size() : random() % (input.size() * 2);
            EXPECT_LE(GuardedDecompress(damaged, capacity), capacity);
        }
    }
    for (int trial = 0; trial < 2000; ++trial) {
        Bytes garbage = random_bytes(1 + random() % 300, static_cast<unsigned>(trial));
        garbage[0] &= 0x3F;
        const std::uint64_t capacity = random() % 5000;
        EXPECT_LE(GuardedDecompress(garbage, capacity), capacity);
    }
}
