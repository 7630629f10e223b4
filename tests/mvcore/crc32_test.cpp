#include "Marvane/Utilities/Crc32Calculation.h"
#include "Utilities/Crc32Tables.h"
#include "random_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#if defined(HAVE_ZLIB)
#include <zlib.h>
#endif

using Marvane::Utilities::Crc32Calculation;

namespace {

// Bit at a time, straight from the polynomial: shares nothing with the library's tables.
std::uint32_t BitwiseCrc(std::uint32_t crc, const unsigned char* data, std::size_t size) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// zlib where the build has it, else the bitwise reference.
std::uint32_t PeerCrc(std::uint32_t crc, const unsigned char* data, std::size_t size) {
#if defined(HAVE_ZLIB)
    std::uint32_t result = crc;
    while (size > 0) {
        const auto piece = static_cast<uInt>(size > (1u << 30) ? (1u << 30) : size);
        result = static_cast<std::uint32_t>(::crc32(result, data, piece));
        data += piece;
        size -= piece;
    }
    return result;
#else
    return BitwiseCrc(crc, data, size);
#endif
}

unsigned int CrcOf(const unsigned char* data, std::size_t size) {
    Crc32Calculation crc;
    return crc.AddBytes(data, size);
}

} // namespace

TEST(Crc32Calculation, CheckValueOfTheStandardString) {
    const char text[] = "123456789";
    Crc32Calculation crc;
    EXPECT_EQ(crc.AddBytes(text, 9), 0xCBF43926u);
    EXPECT_EQ(crc.LastResult, 0xCBF43926u);
    EXPECT_EQ(crc.RunningRegister, ~0xCBF43926u);
}

TEST(Crc32Calculation, AddsInPiecesGiveTheSameResult) {
    const char text[] = "123456789";
    Crc32Calculation crc;
    const unsigned int first = crc.AddBytes(text, 1);
    EXPECT_EQ(first, PeerCrc(0, reinterpret_cast<const unsigned char*>(text), 1));
    EXPECT_EQ(crc.AddBytes(text + 1, 8), 0xCBF43926u);

    const auto bytes = random_bytes(1500, 7);
    const unsigned int whole = CrcOf(bytes.data(), bytes.size());
    for (std::size_t split = 0; split <= bytes.size(); split += 37) {
        Crc32Calculation pieces;
        pieces.AddBytes(bytes.data(), split);
        pieces.AddBytes(bytes.data() + split, bytes.size() - split);
        EXPECT_EQ(pieces.LastResult, whole) << "split at " << split;
    }
}

TEST(Crc32Calculation, NullOrEmptyInputChangesNothing) {
    Crc32Calculation crc;
    crc.AddBytes("abc", 3);
    const Crc32Calculation before = crc;
    EXPECT_EQ(crc.AddBytes(nullptr, 10), 0u);
    EXPECT_EQ(crc.AddBytes("abc", 0), 0u);
    EXPECT_EQ(crc.RunningRegister, before.RunningRegister);
    EXPECT_EQ(crc.LastResult, before.LastResult);
}

TEST(Crc32Calculation, ClientChosenRegisterContinuesAnEarlierChecksum) {
    const auto bytes = random_bytes(4000, 11);
    const std::uint32_t earlier = PeerCrc(0, bytes.data(), 1000);
    Crc32Calculation crc{~earlier, earlier};
    EXPECT_EQ(crc.AddBytes(bytes.data() + 1000, 3000), PeerCrc(0, bytes.data(), bytes.size()));
}

TEST(Crc32Calculation, EqualsThePeerForEveryLengthUpTo1000) {
    const auto bytes = random_bytes(1000 + 16, 1);
    for (std::size_t length = 0; length <= 1000; ++length) {
        const unsigned char* start = bytes.data() + length % 16; // every alignment
        const std::uint32_t expected = PeerCrc(0, start, length);
        ASSERT_EQ(BitwiseCrc(0, start, length), expected);
        if (length == 0) continue;
        ASSERT_EQ(CrcOf(start, length), expected) << "length " << length;
    }
}

TEST(Crc32Calculation, EqualsThePeerOnLargeBuffersAndRandomPieces) {
    const auto bytes = random_bytes((16u << 20) + 77, 3);
    const std::uint32_t expected = PeerCrc(0, bytes.data(), bytes.size());
    EXPECT_EQ(CrcOf(bytes.data(), bytes.size()), expected);
    EXPECT_EQ(CrcOf(bytes.data() + 3, bytes.size() - 3), PeerCrc(0, bytes.data() + 3, bytes.size() - 3));

    std::mt19937 random(5);
    Crc32Calculation pieces;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t piece = std::min<std::size_t>(random() % 100000, bytes.size() - at);
        if (piece > 0) pieces.AddBytes(bytes.data() + at, piece);
        at += piece;
    }
    EXPECT_EQ(pieces.LastResult, expected);
}

// The table path is what runs where the processor has no carry-less multiply; check it on its own.
TEST(Crc32Calculation, TablePathEqualsThePeer) {
    namespace detail = Marvane::Utilities::Crc32Detail;
    EXPECT_EQ(detail::kCrc32Tables[0][1], 0x77073096u);
    EXPECT_EQ(detail::kCrc32Tables[0][255], 0x2D02EF8Du);
    const auto bytes = random_bytes(1u << 20, 9);
    for (std::size_t length : {0u, 1u, 255u, 319u, 320u, 321u, 383u, 384u, 1000u, 65536u + 5u, 1u << 20}) {
        const std::uint32_t reg = detail::UpdateSlicing16(0xFFFFFFFFu, bytes.data(), length);
        EXPECT_EQ(~reg, PeerCrc(0, bytes.data(), length)) << "length " << length;
    }
}
