// The driver's single-precision square root, sine and cosine: the nearest float at every input
// the hue matrix uses, and the same fixed-point colour matrix at every hue as the host
// runtime's sqrtf, sinf and cosf give (the platform's kernel has no single-precision maths, so
// the driver carries its own in both builds).
#include "driver/streaming/single_math.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "driver/streaming/color_pipeline.h"
#include "tests/support/kernel_test.h"

namespace bayercam::testing {
namespace {

// The angle of a hue as the hue matrix computes it.
float hueAngle(LONG degrees) { return (float)degrees * 3.1415927f / 180.0f; }

float nearestSine(float x) { return (float)std::sin((long double)x); }
float nearestCosine(float x) { return (float)std::cos((long double)x); }

std::string hex(float x) {
    char text[32];
    std::snprintf(text, sizeof text, "%a", (double)x);
    return text;
}

// ---------------------------------------------------------------- the functions

TEST(SingleMath, SquareRootIsTheRuntimes) {
    const float inputs[] = {0.0f, 1.0f, 2.0f, 3.0f, 0.5f, 1e-40f, 1e30f, 123456.7f, 2.0000002f};
    for (float x : inputs) {
        EXPECT_EQ(hex(SquareRootSingle(x)), hex(std::sqrt(x))) << "sqrt of " << hex(x);
    }
}

TEST(SingleMath, SineAndCosineAreTheNearestFloatsAtEveryHue) {
    for (LONG degrees = 0; degrees < 360; ++degrees) {
        const float angle = hueAngle(degrees);
        EXPECT_EQ(hex(SineSingle(angle)), hex(nearestSine(angle))) << "sine at hue " << degrees;
        EXPECT_EQ(hex(CosineSingle(angle)), hex(nearestCosine(angle)))
            << "cosine at hue " << degrees;
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

// ---------------------------------------------------------------- the hue matrix

using Matrix = std::array<double, 16>;

Matrix identity() {
    Matrix m{};
    for (int i = 0; i < 16; i += 5) m[i] = 1.0;
    return m;
}

// M = M x T, as the builder steps do.
void rotate(Matrix& m, int a, int b, double s, double c) {
    Matrix t = identity();
    t[5 * a] = c;
    t[4 * a + b] = s;
    t[4 * b + a] = -s;
    t[5 * b] = c;
    MultiplyMatrix(t.data(), m.data(), m.data());
}

void shear(Matrix& m, double dx, double dy) {
    Matrix t = identity();
    t[2] = dx;
    t[6] = dy;
    MultiplyMatrix(t.data(), m.data(), m.data());
}

// The hue rotation with the host runtime's sqrtf, sinf and cosf.
Matrix runtimeHueMatrix(LONG degrees) {
    const double wr = (double)0.3086f, wg = (double)0.6094f, wb = (double)0.082f;
    Matrix m = identity();
    const double mag = 1.0 / (double)sqrtf(2.0f);
    rotate(m, 1, 2, mag, mag);
    const double ys = -1.0 / (double)sqrtf(3.0f), yc = (double)sqrtf(2.0f) / (double)sqrtf(3.0f);
    rotate(m, 2, 0, ys, yc);  // about green: rows (c 0 -s), (0 1 0), (s 0 c)
    double lum[3];
    for (int j = 0; j < 3; ++j) lum[j] = wr * m[j] + wg * m[4 + j] + wb * m[8 + j] + m[12 + j];
    const double zx = lum[0] / lum[2], zy = lum[1] / lum[2];
    shear(m, zx, zy);
    const float angle = hueAngle(degrees);
    rotate(m, 0, 1, (double)sinf(angle), (double)cosf(angle));
    shear(m, -zx, -zy);
    rotate(m, 2, 0, -ys, yc);
    rotate(m, 1, 2, -mag, mag);
    return m;
}

LONG roundQ6(double x) {
    const double y = x * 64.0;
    return y >= 0.0 ? (LONG)(y + 0.5) : (LONG)(y - 0.5);
}

class HueMatrixTest : public host::testing::KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        pipeline_ = CreateColorPipeline();
        ASSERT_NE(pipeline_, nullptr);
    }
    void TearDown() override {
        FreeColorPipeline(pipeline_);
        KernelTest::TearDown();
    }

    // The fixed-point matrix of the pipeline's other matrices with the runtime's hue rotation.
    std::array<LONG, 16> runtimeFixed(LONG degrees) const {
        Matrix combined{};
        const ColorPipeline* p = pipeline_;
        MultiplyMatrix(p->baseMatrix, p->correctionMatrix, combined.data());
        MultiplyMatrix(combined.data(), p->contrastMatrix, combined.data());
        MultiplyMatrix(combined.data(), p->brightnessMatrix, combined.data());
        MultiplyMatrix(combined.data(), p->saturationMatrix, combined.data());
        const Matrix hue = runtimeHueMatrix(degrees);
        MultiplyMatrix(combined.data(), hue.data(), combined.data());
        std::array<LONG, 16> fixed{};
        for (int i = 0; i < 16; ++i) fixed[i] = roundQ6(combined[i]);
        return fixed;
    }

    void expectRuntimeFixedAtEveryHue(const char* settings) {
        for (LONG degrees = 0; degrees < 360; ++degrees) {
            BuildHueMatrix(pipeline_, degrees);
            const std::array<LONG, 16> expected = runtimeFixed(degrees);
            for (int i = 0; i < 16; ++i) {
                EXPECT_EQ(pipeline_->matrixFixed[i], expected[i])
                    << settings << ", hue " << degrees << ", entry " << i;
            }
        }
    }

    ColorPipeline* pipeline_ = nullptr;
};

TEST_F(HueMatrixTest, FixedMatrixIsTheRuntimesAtEveryHueWithDefaults) {
    expectRuntimeFixedAtEveryHue("defaults");
}

TEST_F(HueMatrixTest, FixedMatrixIsTheRuntimesAtEveryHueWithEveryOtherStepNeutral) {
    BuildCorrectionMatrix(pipeline_, 0);
    expectRuntimeFixedAtEveryHue("correction off");
}

TEST_F(HueMatrixTest, FixedMatrixIsTheRuntimesAtEveryHueWithStrongAdjustments) {
    BuildBrightnessMatrix(pipeline_, 400);
    BuildContrastMatrix(pipeline_, 17);
    BuildSaturationMatrix(pipeline_, 20);
    expectRuntimeFixedAtEveryHue("brightness 400, contrast 17, saturation 20");
}

// The double matrix itself differs from the runtime's only where the runtime's sine or cosine
// is not the nearest float.
TEST_F(HueMatrixTest, DoubleMatrixIsTheRuntimesWhereTheRuntimeRoundsToNearest) {
    int compared = 0;
    for (LONG degrees = 0; degrees < 360; ++degrees) {
        const float angle = hueAngle(degrees);
        if (sinf(angle) != nearestSine(angle) || cosf(angle) != nearestCosine(angle)) continue;
        ++compared;
        BuildHueMatrix(pipeline_, degrees);
        const Matrix expected = runtimeHueMatrix(degrees);
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(pipeline_->hueMatrix[i], expected[i]) << "hue " << degrees << ", entry " << i;
        }
    }
    EXPECT_GT(compared, 300);
}

}  // namespace
}  // namespace bayercam::testing
