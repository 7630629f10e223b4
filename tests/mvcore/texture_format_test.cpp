#include "Marvane/Graphics/TextureFormat.h"

#include <gtest/gtest.h>

#include <climits>

using namespace Marvane;
using namespace Marvane::Graphics;

namespace {

constexpr TextureFormat::Enum AllFormats[] = {
    TextureFormat::R8G8B8A8, TextureFormat::R16G16B16A16, TextureFormat::R32G32B32A32, TextureFormat::BC1,
    TextureFormat::BC3,      TextureFormat::BC5,          TextureFormat::BC7,          TextureFormat::BC6,
    TextureFormat::BC4,      TextureFormat::ASTC4X4,      TextureFormat::ASTC8X8,      TextureFormat::R32,
    TextureFormat::R32G32,   TextureFormat::R32G32B32,
};

const TextureFormat::Enum Unknown14 = static_cast<TextureFormat::Enum>(14);
const TextureFormat::Enum UnknownNegative = static_cast<TextureFormat::Enum>(-1);

} // namespace

TEST(TextureFormatTest, BlockGeometryTable) {
    const unsigned widths[] = {1, 1, 1, 4, 4, 4, 4, 4, 4, 4, 8, 1, 1, 1};
    const unsigned bytes[] = {4, 8, 16, 8, 16, 16, 16, 16, 8, 16, 16, 4, 8, 12};
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(GetBlockWidth(AllFormats[i]), widths[i]) << i;
        EXPECT_EQ(GetBlockHeight(AllFormats[i]), widths[i]) << i;
        EXPECT_EQ(GetBlockSizeBytes(AllFormats[i]), bytes[i]) << i;
    }
    for (auto unknown : {Unknown14, static_cast<TextureFormat::Enum>(1000), UnknownNegative}) {
        EXPECT_EQ(GetBlockWidth(unknown), 0u);
        EXPECT_EQ(GetBlockHeight(unknown), 0u);
        EXPECT_EQ(GetBlockSizeBytes(unknown), 0u);
    }
}

TEST(TextureFormatTest, RectangleSizesCountPartialBlocksWhole) {
    EXPECT_EQ(GetRectangleSize(TextureFormat::BC1, 5, 5), 32u);
    EXPECT_EQ(GetRectangleSize(TextureFormat::ASTC8X8, 9, 9), 64u);
    EXPECT_EQ(GetRectangleSize(TextureFormat::R32G32B32, 3, 2), 72u);
    EXPECT_EQ(GetRectangleSize(TextureFormat::BC7, 4, 4), 16u);
    EXPECT_EQ(GetRectangleSize(TextureFormat::BC4, 1, 1), 8u);
    EXPECT_EQ(GetRectangleSize(TextureFormat::R8G8B8A8, 0, 100), 0u);
    EXPECT_EQ(GetRectangleSize(Unknown14, 16, 16), 0u);
    // Sizes beyond 32 bits are exact.
    EXPECT_EQ(GetRectangleSize(TextureFormat::R32G32B32A32, 65536, 65536), u64{1} << 36);
    EXPECT_EQ(GetRectangleSize(TextureFormat::BC1, INT_MAX, INT_MAX),
              ((u64{INT_MAX} + 3) / 4) * ((u64{INT_MAX} + 3) / 4) * 8);
    // A negative dimension is no rectangle.
    EXPECT_EQ(GetRectangleSize(TextureFormat::BC1, -4, 8), 0u);
    EXPECT_EQ(GetRectangleSize(TextureFormat::R8G8B8A8, 8, -1), 0u);
}

TEST(TextureFormatTest, SizeAgreesWithPitchTimesBlockRows) {
    for (auto format : AllFormats) {
        const unsigned b = GetBlockWidth(format);
        for (int width = 1; width <= 40; width += 3)
            for (int height = 1; height <= 40; height += 5)
                EXPECT_EQ(GetRectangleSize(format, width, height),
                          u64{CalculateRectanglePitch(format, static_cast<unsigned>(width))} *
                              ((static_cast<unsigned>(height) + b - 1) / b))
                    << TextureFormat::ToString(format) << " " << width << "x" << height;
    }
}

TEST(TextureFormatTest, Pitches) {
    EXPECT_EQ(CalculateRectanglePitch(TextureFormat::R8G8B8A8, 100), 400u);
    EXPECT_EQ(CalculateRectanglePitch(TextureFormat::BC1, 6), 16u);
    EXPECT_EQ(CalculateRectanglePitch(TextureFormat::ASTC8X8, 17), 48u);
    EXPECT_EQ(CalculateRectanglePitch(TextureFormat::R32G32B32, 10), 120u);
    EXPECT_EQ(CalculateRectanglePitch(Unknown14, 100), 0u);
}

TEST(TextureFormatTest, SubrectangleOffsets) {
    unsigned offset = 1, pitch = 1;
    CalculateSubrectangleOffsetAndPitch(TextureFormat::BC3, 256, 999, 8, 4, offset, pitch);
    EXPECT_EQ(offset, 1056u);
    EXPECT_EQ(pitch, 1024u);
    // The height has no influence.
    unsigned offset2 = 0, pitch2 = 0;
    CalculateSubrectangleOffsetAndPitch(TextureFormat::BC3, 256, 4, 8, 4, offset2, pitch2);
    EXPECT_EQ(offset2, offset);
    EXPECT_EQ(pitch2, pitch);

    CalculateSubrectangleOffsetAndPitch(TextureFormat::R16G16B16A16, 10, 10, 3, 2, offset, pitch);
    EXPECT_EQ(offset, (3u + 10u * 2u) * 8u);
    EXPECT_EQ(pitch, 80u);

    // Rows of blocks count the width rounded down, the pitch rounds it up.
    CalculateSubrectangleOffsetAndPitch(TextureFormat::BC1, 6, 8, 0, 4, offset, pitch);
    EXPECT_EQ(offset, 8u);
    EXPECT_EQ(pitch, 16u);
    CalculateSubrectangleOffsetAndPitch(TextureFormat::ASTC8X8, 64, 64, 17, 9, offset, pitch);
    EXPECT_EQ(offset, (8u * 1u + 2u) * 16u);
    EXPECT_EQ(pitch, 128u);

    CalculateSubrectangleOffsetAndPitch(Unknown14, 64, 64, 8, 8, offset, pitch);
    EXPECT_EQ(offset, 0u);
    EXPECT_EQ(pitch, 0u);
}

TEST(TextureFormatTest, Names) {
    const wchar_t* names[] = {L"R8G8B8A8", L"R16G16B16A16", L"R32G32B32A32", L"BC1",      L"BC3",
                              L"BC5",      L"BC7",          L"BC6",          L"BC4",      L"ASTC4X4",
                              L"ASTC8X8",  L"R32",          L"R32G32",       L"R32G32B32"};
    for (int i = 0; i < 14; ++i)
        EXPECT_STREQ(TextureFormat::ToString(AllFormats[i]), names[i]);
    EXPECT_STREQ(TextureFormat::ToString(Unknown14), L"Unknown");
    EXPECT_STREQ(TextureFormat::ToString(UnknownNegative), L"Unknown");
}
