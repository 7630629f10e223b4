#pragma once

#include "Marvane/Export.h"

namespace Marvane::Graphics::TextureChannelTransform {

// How the stored bits of a channel are interpreted.
enum Enum : int {
    UINT = 0,
    SINT = 1,
    UNORM = 2,
    SNORM = 3,
    SFLOAT = 4,
    UFLOAT = 5,
    SRGB = 6,
};

// The name of the transform; "Unknown" for values outside the table.
MARVANE_API const wchar_t* ToString(Enum transform);

} // namespace Marvane::Graphics::TextureChannelTransform
