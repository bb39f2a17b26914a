// The driver's single-precision square root, sine and cosine against the host runtime and long
// double: the platform's kernel has no single-precision maths, so the driver carries its own.
#include "driver/streaming/single_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace bayercam::testing {
namespace {

float nearestSine(float x) { return (float)std::sin((long double)x); }
float nearestCosine(float x) { return (float)std::cos((long double)x); }

std::string hex(float x) {
    char text[32];
    std::snprintf(text, sizeof text, "%a", (double)x);
    return text;
}

TEST(SingleMath, SquareRootIsTheRuntimes) {
    const float inputs[] = {0.0f, 1.0f, 2.0f, 3.0f, 0.5f, 1e-40f, 1e30f, 123456.7f, 2.0000002f};
    for (float x : inputs) {
        EXPECT_EQ(hex(SquareRootSingle(x)), hex(std::sqrt(x))) << "sqrt of " << hex(x);
    }
}

// Every quadrant, both signs, the quadrant edges: a sweep of 2^17 floats over [-8, 8].
TEST(SingleMath, SineAndCosineAreTheNearestFloatsOverTwoTurnsEachWay) {
    int wrong = 0;
    for (int i = -65536; i <= 65536 && wrong < 5; ++i) {
        const float x = (float)i / 8192.0f;
        if (SineSingle(x) != nearestSine(x) || CosineSingle(x) != nearestCosine(x)) {
            ++wrong;
            ADD_FAILURE() << "at " << hex(x) << ": sine " << hex(SineSingle(x)) << ", expected "
                          << hex(nearestSine(x)) << "; cosine " << hex(CosineSingle(x))
                          << ", expected " << hex(nearestCosine(x));
        }
    }
}

}  // namespace
}  // namespace bayercam::testing
