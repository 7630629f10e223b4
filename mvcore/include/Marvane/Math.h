#pragma once

#include "Marvane/Export.h"

namespace Marvane::Math {

// Each function works in double precision and rounds once at the end, so results do not depend on the
// single-precision library functions of the platform.
MARVANE_API double Log10(double x);
MARVANE_API float Log2(float x);
MARVANE_API float Pow2(float x);
MARVANE_API float Sqrt(float x);

} // namespace Marvane::Math
