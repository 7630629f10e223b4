#pragma once

#include "Marvane/Error.h"
#include "Marvane/Export.h"
#include "Marvane/Platform/Types.h"

namespace Marvane::Graphics {

namespace TextureFormat {

// Plain formats store single pixels (1 x 1 blocks); the others square blocks of 4 x 4 or 8 x 8.
enum Enum : int {
    R8G8B8A8 = 0,
    R16G16B16A16 = 1,
    R32G32B32A32 = 2,
    BC1 = 3,
    BC3 = 4,
    BC5 = 5,
    BC7 = 6,
    BC6 = 7,
    BC4 = 8,
    ASTC4X4 = 9,
    ASTC8X8 = 10,
    R32 = 11,
    R32G32 = 12,
    R32G32B32 = 13,
};

// The name of the format; "Unknown" for values outside the table.
MARVANE_API const wchar_t* ToString(Enum format);

} // namespace TextureFormat

// Block width and height in pixels, and bytes per block; 0 for unknown formats.
MARVANE_API unsigned int GetBlockWidth(TextureFormat::Enum format);
MARVANE_API unsigned int GetBlockHeight(TextureFormat::Enum format);
MARVANE_API unsigned int GetBlockSizeBytes(TextureFormat::Enum format);

// Bytes of a width x height pixel rectangle, partial blocks counted whole; 0 for unknown formats and
// negative dimensions.
MARVANE_API u64 GetRectangleSize(TextureFormat::Enum format, int width, int height);

// Bytes per row of blocks of a rectangle `width` pixels wide.
MARVANE_API unsigned int CalculateRectanglePitch(TextureFormat::Enum format, unsigned int width);

// Byte offset of the block holding pixel (x, y) in a rectangle `width` pixels wide, and the rectangle's
// pitch. Rows of blocks are counted with the width rounded down to whole blocks; `height` has no
// influence. Both are 0 for unknown formats. The arithmetic is unsigned 32-bit.
MARVANE_API void CalculateSubrectangleOffsetAndPitch(TextureFormat::Enum format, unsigned int width,
                                                     unsigned int height, unsigned int x, unsigned int y,
                                                     unsigned int& offset, unsigned int& pitch);

// Copies the destinationWidth x destinationHeight rectangle at pixel (x, y) of the source image into a
// tightly packed destination (its pitch is its width in bytes). InvalidParameter for null buffers, an
// empty destination or a rectangle that does not lie inside the source; NotImplemented for ASTC and
// unknown formats and for a position that is not a multiple of the block width.
MARVANE_API Error::Enum ExtractRectangle(TextureFormat::Enum format, void* destination,
                                         unsigned int destinationWidth, unsigned int destinationHeight,
                                         void* source, unsigned int sourceWidth, unsigned int sourceHeight,
                                         unsigned int x, unsigned int y);

} // namespace Marvane::Graphics
