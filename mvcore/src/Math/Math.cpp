#include "Marvane/Math.h"

#include <cmath>

namespace Marvane::Math {

double Log10(double x) {
    return std::log10(x);
}

float Log2(float x) {
    return static_cast<float>(std::log(static_cast<double>(x)) / std::log(2.0));
}

float Pow2(float x) {
    return static_cast<float>(std::pow(2.0, static_cast<double>(x)));
}

float Sqrt(float x) {
    return static_cast<float>(std::sqrt(static_cast<double>(x)));
}

} // namespace Marvane::Math
