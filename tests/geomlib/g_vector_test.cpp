#include "geomlib/g_vector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

TEST(GVector, DefaultIsOriginAndArithmetic) {
    g_vector origin;
    EXPECT_EQ(origin.x, 0.0);
    EXPECT_EQ(origin.y, 0.0);
    EXPECT_EQ(origin.z, 0.0);

    g_vector a(3, 4, 0), b(1, -2, 2);
    EXPECT_DOUBLE_EQ(a.length(), 5.0);
    EXPECT_DOUBLE_EQ(a.dot(b), -5.0);
    g_vector sum = a + b, diff = a - b;
    EXPECT_EQ(sum.x, 4.0);
    EXPECT_EQ(sum.z, 2.0);
    EXPECT_EQ(diff.y, 6.0);
    a += b;
    a -= g_vector(1, 1, 1);
    a *= 2.0;
    EXPECT_EQ(a.x, 6.0);
    EXPECT_EQ(a.y, 2.0);
    EXPECT_EQ(a.z, 2.0);
}

TEST(GVector, AngleIsClampedToZeroThroughPi) {
    g_vector x(1, 0, 0), y(0, 2, 0);
    EXPECT_DOUBLE_EQ(x.angle(y), std::numbers::pi / 2);
    EXPECT_DOUBLE_EQ(x.angle(g_vector(-3, 0, 0)), std::numbers::pi);
    // Rounding pushes the cosine of parallel vectors past 1; the clamp keeps it defined.
    g_vector v(0.1, 0.7, 0.3);
    g_vector w = v;
    w *= 3.0;
    EXPECT_FALSE(std::isnan(v.angle(w)));
    EXPECT_NEAR(v.angle(w), 0.0, 1e-7);
    EXPECT_TRUE(std::isnan(x.angle(g_vector())));
}

}  // namespace
