#include "Graphics/BlockGeometry.h"

#include <cstring>

namespace Marvane::Graphics {

Error::Enum ExtractRectangle(TextureFormat::Enum format, void* destination, unsigned int destinationWidth,
                             unsigned int destinationHeight, void* source, unsigned int sourceWidth,
                             unsigned int sourceHeight, unsigned int x, unsigned int y) {
    if (destination == nullptr || source == nullptr || destinationWidth == 0 || destinationHeight == 0 ||
        sourceWidth < destinationWidth || sourceHeight < destinationHeight)
        return Error::InvalidParameter;

    // ASTC blocks are copied by nobody yet.
    if (format == TextureFormat::ASTC4X4 || format == TextureFormat::ASTC8X8) return Error::NotImplemented;
    const Detail::BlockGeometry block = Detail::GeometryOf(format);
    if (block.width == 0) return Error::NotImplemented;
    const unsigned int b = block.width;
    if (x % b != 0 || y % b != 0) return Error::NotImplemented;

    // A rectangle reaching past the source would be read from memory that is not the image.
    if (static_cast<u64>(x) + destinationWidth > sourceWidth ||
        static_cast<u64>(y) + destinationHeight > sourceHeight)
        return Error::InvalidParameter;

    const u64 rows = destinationHeight / b;
    const u64 rowBytes = static_cast<u64>(block.bytes) * (destinationWidth / b);
    const u64 sourceStride = static_cast<u64>(block.bytes) * (sourceWidth / b);
    auto* to = static_cast<unsigned char*>(destination);
    const auto* from = static_cast<const unsigned char*>(source) + block.bytes * static_cast<u64>(x / b) +
                       static_cast<u64>(y / b) * sourceStride;
    for (u64 row = 0; row < rows; ++row) {
        std::memcpy(to, from, rowBytes);
        to += rowBytes;
        from += sourceStride;
    }
    return Error::Ok;
}

} // namespace Marvane::Graphics
