#pragma once

#include "Marvane/Graphics/TextureFormat.h"

namespace Marvane::Graphics::Detail {

// Block width (square blocks) and bytes per block of a format; both 0 for unknown formats.
struct BlockGeometry {
    unsigned int width;
    unsigned int bytes;
};

BlockGeometry GeometryOf(TextureFormat::Enum format);

} // namespace Marvane::Graphics::Detail
