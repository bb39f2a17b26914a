// ColorPipeline's fixed-point matrix against values worked out here a different way: each
// adjustment applied to the pixel as a function, in the order hue, saturation, brightness,
// contrast, correction, to the four unit rows.
#include "driver/streaming/color_pipeline.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "tests/support/kernel_test.h"

namespace bayercam::testing {
namespace {

using Fixed = std::array<LONG, 16>;
using Vec = std::array<double, 4>;  // (R, G, B, 1)

struct Settings {
    LONG correction = 1;
    LONG brightness = 255;
    LONG contrast = 10;
    LONG saturation = 10;
    LONG hue = 0;
};

const double kWr = (double)0.3086f;
const double kWg = (double)0.6094f;
const double kWb = (double)0.082f;

double factor(LONG v) { return (double)(((float)std::min<LONG>(v, 20) - 10.0f) * 0.1f + 1.0f); }

Vec correct(const Vec& v, LONG enabled) {
    if (!enabled) return v;
    const float c[3][3] = {{1.36f, -0.25f, -0.1f}, {-0.22f, 1.4f, -0.32f}, {-0.14f, -0.15f, 1.42f}};
    Vec out{0, 0, 0, v[3]};
    for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 3; ++i) out[j] += v[i] * (double)c[i][j];
    }
    return out;
}

Vec contrast(const Vec& v, LONG value) {
    const double k = factor(value);
    const double t = k * -128.0 + 128.0;
    return {k * v[0] + t * v[3], k * v[1] + t * v[3], k * v[2] + t * v[3], v[3]};
}

Vec brighten(const Vec& v, LONG value) {
    const double d = std::min<LONG>(value, 510) - 255;
    return {v[0] + d * v[3], v[1] + d * v[3], v[2] + d * v[3], v[3]};
}

Vec saturate(const Vec& v, LONG value) {
    const double k = factor(value);
    const double grey = (1.0 - k) * (kWr * v[0] + kWg * v[1] + kWb * v[2]);
    return {k * v[0] + grey, k * v[1] + grey, k * v[2] + grey, v[3]};
}

// The hue rotation as a chain of coordinate changes of the pixel.
Vec rotateRed(const Vec& v, double s, double c) {
    return {v[0], c * v[1] - s * v[2], s * v[1] + c * v[2], v[3]};
}
Vec rotateGreen(const Vec& v, double s, double c) {
    return {c * v[0] + s * v[2], v[1], -s * v[0] + c * v[2], v[3]};
}
Vec rotateBlue(const Vec& v, double s, double c) {
    return {c * v[0] - s * v[1], s * v[0] + c * v[1], v[2], v[3]};
}
Vec shearBlue(const Vec& v, double dx, double dy) {
    return {v[0], v[1], dx * v[0] + dy * v[1] + v[2], v[3]};
}

Vec rotateHue(const Vec& v, LONG degrees) {
    const double m = 1.0 / (double)std::sqrt(2.0f);
    const double ys = -1.0 / (double)std::sqrt(3.0f);
    const double yc = (double)std::sqrt(2.0f) / (double)std::sqrt(3.0f);
    const Vec lum = rotateGreen(rotateRed({kWr, kWg, kWb, 1.0}, m, m), ys, yc);
    const double zx = lum[0] / lum[2];
    const double zy = lum[1] / lum[2];
    const float angle = (float)degrees * 3.1415927f / 180.0f;
    Vec out = shearBlue(rotateGreen(rotateRed(v, m, m), ys, yc), zx, zy);
    out = rotateBlue(out, (double)std::sin(angle), (double)std::cos(angle));
    return rotateRed(rotateGreen(shearBlue(out, -zx, -zy), -ys, yc), -m, m);
}

LONG roundQ6(double x) {
    const double y = x * 64.0;
    return y >= 0 ? (LONG)(y + 0.5) : (LONG)(y - 0.5);
}

Fixed expectedFixed(const Settings& s) {
    Fixed out{};
    for (int i = 0; i < 4; ++i) {
        Vec row{0, 0, 0, 0};
        row[i] = 1.0;
        Vec v = rotateHue(row, s.hue);
        v = correct(contrast(brighten(saturate(v, s.saturation), s.brightness), s.contrast),
                    s.correction);
        for (int j = 0; j < 4; ++j) out[4 * i + j] = roundQ6(v[j]);
    }
    return out;
}

Fixed fixedOf(const ColorPipeline* p) {
    Fixed out;
    std::copy(p->matrixFixed, p->matrixFixed + 16, out.begin());
    return out;
}

class ColorPipelineTest : public host::testing::KernelTest {
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

    void apply(const Settings& s) {
        UpdateColorCorrection(pipeline_, s.correction);
        UpdateBrightness(pipeline_, s.brightness);
        UpdateContrast(pipeline_, s.contrast);
        UpdateSaturation(pipeline_, s.saturation);
        UpdateHue(pipeline_, s.hue);
    }

    ColorPipeline* pipeline_ = nullptr;
};

TEST_F(ColorPipelineTest, EverySettingMatchesTheAdjustmentsAppliedInTurn) {
    const Settings cases[] = {
        {},
        {.hue = 30},
        {.hue = 90},
        {.hue = 180},
        {.hue = 271},
        {.correction = 0, .hue = 120},
        {.brightness = 0, .contrast = 20, .saturation = 20, .hue = 359},
        {.brightness = 300, .contrast = 9, .saturation = 3, .hue = 45},
        {.correction = 0, .brightness = 100, .contrast = 15, .saturation = 0, .hue = 200},
        {.brightness = 510, .contrast = 0, .saturation = 20},
    };
    for (const Settings& s : cases) {
        apply(s);
        EXPECT_EQ(fixedOf(pipeline_), expectedFixed(s))
            << "correction " << s.correction << " brightness " << s.brightness << " contrast "
            << s.contrast << " saturation " << s.saturation << " hue " << s.hue;
    }
    for (LONG hue = 0; hue < 360; ++hue) {
        apply({.brightness = 400, .contrast = 17, .saturation = 20, .hue = hue});
        EXPECT_EQ(fixedOf(pipeline_),
                  expectedFixed({.brightness = 400, .contrast = 17, .saturation = 20, .hue = hue}))
            << "hue " << hue;
    }
}

}  // namespace
}  // namespace bayercam::testing
