#include "Marvane/Math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace Math = Marvane::Math;

TEST(Math, ExactPowersComeOutExact) {
    EXPECT_EQ(Math::Log10(1000.0), 3.0);
    EXPECT_EQ(Math::Log10(1.0), 0.0);
    EXPECT_EQ(Math::Log2(8.0f), 3.0f);
    EXPECT_EQ(Math::Log2(1.0f), 0.0f);
    EXPECT_EQ(Math::Pow2(10.0f), 1024.0f);
    EXPECT_EQ(Math::Pow2(-1.0f), 0.5f);
    EXPECT_EQ(Math::Pow2(0.0f), 1.0f);
    EXPECT_EQ(Math::Sqrt(16.0f), 4.0f);
    EXPECT_EQ(Math::Sqrt(0.0f), 0.0f);
}

// Each result is the double-precision value rounded once to float.
TEST(Math, SinglePrecisionResultsAreRoundedDoubleResults) {
    for (float x = 0.001f; x < 5000.0f; x *= 1.37f) {
        EXPECT_EQ(Math::Log2(x), static_cast<float>(std::log(double{x}) / std::log(2.0))) << x;
        EXPECT_EQ(Math::Sqrt(x), static_cast<float>(std::sqrt(double{x}))) << x;
        EXPECT_EQ(Math::Log10(double{x}), std::log10(double{x})) << x;
    }
    for (float x = -40.0f; x < 40.0f; x += 0.37f)
        EXPECT_EQ(Math::Pow2(x), static_cast<float>(std::pow(2.0, double{x}))) << x;
    EXPECT_NEAR(Math::Pow2(0.5f), 1.41421356f, 1e-7f);
    // The square root of a float computed in double precision is correctly rounded.
    EXPECT_EQ(Math::Sqrt(2.0f), std::sqrt(2.0f));
}

TEST(Math, EdgesOfTheDomains) {
    EXPECT_TRUE(std::isnan(Math::Sqrt(-1.0f)));
    EXPECT_TRUE(std::isnan(Math::Log2(-1.0f)));
    EXPECT_EQ(Math::Log2(0.0f), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(Math::Log10(0.0), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(Math::Pow2(200.0f), std::numeric_limits<float>::infinity()); // beyond float
    EXPECT_EQ(Math::Pow2(-200.0f), 0.0f);
    EXPECT_EQ(Math::Log2(std::numeric_limits<float>::infinity()), std::numeric_limits<float>::infinity());
}
