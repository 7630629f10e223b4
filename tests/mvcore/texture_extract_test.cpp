#include "Marvane/Graphics/TextureFormat.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Marvane;
using namespace Marvane::Graphics;

namespace {

// An image whose every byte tells its own offset (mod 251, so that rows differ).
std::vector<unsigned char> NumberedImage(std::size_t size) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(i % 251);
    return bytes;
}

} // namespace

TEST(TextureExtractTest, PlainRegionCopiesRowByRow) {
    auto source = NumberedImage(16 * 16 * 4);
    std::vector<unsigned char> destination(8 * 8 * 4, 0xEE);
    ASSERT_EQ(
        ExtractRectangle(TextureFormat::R8G8B8A8, destination.data(), 8, 8, source.data(), 16, 16, 4, 4),
        Error::Ok);
    for (unsigned row = 0; row < 8; ++row)
        for (unsigned byte = 0; byte < 32; ++byte)
            ASSERT_EQ(destination[row * 32 + byte], source[272 + row * 64 + byte]) << row << " " << byte;
}

TEST(TextureExtractTest, BlockRegionMatchesOffsetsAndPitches) {
    // Every block-copying format, checked against the offset and pitch arithmetic.
    for (auto format :
         {TextureFormat::R8G8B8A8, TextureFormat::R16G16B16A16, TextureFormat::R32G32B32A32,
          TextureFormat::BC1, TextureFormat::BC3, TextureFormat::BC5, TextureFormat::BC7, TextureFormat::BC6,
          TextureFormat::BC4, TextureFormat::R32, TextureFormat::R32G32, TextureFormat::R32G32B32}) {
        const unsigned b = GetBlockWidth(format);
        const unsigned sourceWidth = 64, sourceHeight = 32, width = 16, height = 12, x = 8, y = 16;
        auto source = NumberedImage(GetRectangleSize(format, sourceWidth, sourceHeight));
        std::vector<unsigned char> destination(GetRectangleSize(format, width, height), 0xEE);
        ASSERT_EQ(ExtractRectangle(format, destination.data(), width, height, source.data(), sourceWidth,
                                   sourceHeight, x, y),
                  Error::Ok)
            << TextureFormat::ToString(format);
        const unsigned rowBytes = CalculateRectanglePitch(format, width);
        for (unsigned row = 0; row < height / b; ++row) {
            unsigned offset = 0, pitch = 0;
            CalculateSubrectangleOffsetAndPitch(format, sourceWidth, sourceHeight, x, y + row * b, offset,
                                                pitch);
            for (unsigned byte = 0; byte < rowBytes; ++byte)
                ASSERT_EQ(destination[row * rowBytes + byte], source[offset + byte])
                    << TextureFormat::ToString(format) << " row " << row;
        }
    }
}

TEST(TextureExtractTest, UnsupportedFormatsAndPositions) {
    std::vector<unsigned char> source(4096), destination(4096);
    EXPECT_EQ(ExtractRectangle(TextureFormat::BC1, destination.data(), 4, 4, source.data(), 16, 16, 2, 0),
              Error::NotImplemented);
    EXPECT_EQ(ExtractRectangle(TextureFormat::BC1, destination.data(), 4, 4, source.data(), 16, 16, 0, 6),
              Error::NotImplemented);
    EXPECT_EQ(ExtractRectangle(TextureFormat::ASTC4X4, destination.data(), 4, 4, source.data(), 16, 16, 0, 0),
              Error::NotImplemented);
    EXPECT_EQ(ExtractRectangle(TextureFormat::ASTC8X8, destination.data(), 8, 8, source.data(), 16, 16, 0, 0),
              Error::NotImplemented);
    EXPECT_EQ(ExtractRectangle(static_cast<TextureFormat::Enum>(14), destination.data(), 4, 4, source.data(),
                               16, 16, 0, 0),
              Error::NotImplemented);
}

TEST(TextureExtractTest, BadArgumentsAreRefused) {
    std::vector<unsigned char> source(4096), destination(4096);
    const auto format = TextureFormat::R8G8B8A8;
    EXPECT_EQ(ExtractRectangle(format, nullptr, 4, 4, source.data(), 16, 16, 0, 0), Error::InvalidParameter);
    EXPECT_EQ(ExtractRectangle(format, destination.data(), 4, 4, nullptr, 16, 16, 0, 0),
              Error::InvalidParameter);
    EXPECT_EQ(ExtractRectangle(format, destination.data(), 0, 4, source.data(), 16, 16, 0, 0),
              Error::InvalidParameter);
    EXPECT_EQ(ExtractRectangle(format, destination.data(), 4, 0, source.data(), 16, 16, 0, 0),
              Error::InvalidParameter);
    EXPECT_EQ(ExtractRectangle(format, destination.data(), 17, 4, source.data(), 16, 16, 0, 0),
              Error::InvalidParameter);
    EXPECT_EQ(ExtractRectangle(format, destination.data(), 4, 17, source.data(), 16, 16, 0, 0),
              Error::InvalidParameter);
    // Null buffers are refused before the format is looked at.
    EXPECT_EQ(ExtractRectangle(TextureFormat::ASTC4X4, nullptr, 4, 4, source.data(), 16, 16, 0, 0),
              Error::InvalidParameter);
}

TEST(TextureExtractTest, RectangleReachingOutsideTheSourceIsRefused) {
    // Exactly sized buffers: a copy past the source would be caught by the address sanitizer too.
    const auto format = TextureFormat::BC1;
    std::vector<unsigned char> source(GetRectangleSize(format, 16, 16), 0x5A);
    std::vector<unsigned char> destination(GetRectangleSize(format, 8, 8), 0xEE);
    EXPECT_EQ(ExtractRectangle(format, destination.data(), 8, 8, source.data(), 16, 16, 12, 0),
              Error::InvalidParameter);
    EXPECT_EQ(ExtractRectangle(format, destination.data(), 8, 8, source.data(), 16, 16, 0, 12),
              Error::InvalidParameter);
    EXPECT_EQ(ExtractRectangle(format, destination.data(), 8, 8, source.data(), 16, 16, 0xFFFFFFF8u, 0),
              Error::InvalidParameter);
    for (unsigned char byte : destination)
        EXPECT_EQ(byte, 0xEE);
    // The last rectangle that fits is fine.
    EXPECT_EQ(ExtractRectangle(format, destination.data(), 8, 8, source.data(), 16, 16, 8, 8), Error::Ok);
    for (unsigned char byte : destination)
        EXPECT_EQ(byte, 0x5A);
}

TEST(TextureExtractTest, LessThanOneBlockRowCopiesNothing) {
    std::vector<unsigned char> source(4096, 1), destination(64, 0xEE);
    EXPECT_EQ(ExtractRectangle(TextureFormat::BC3, destination.data(), 8, 3, source.data(), 16, 16, 0, 0),
              Error::Ok);
    for (unsigned char byte : destination)
        EXPECT_EQ(byte, 0xEE);
}
