// The pixel kernels against values worked out by hand, on every level the CPU runs: uniform
// fields under gains and matrices, an isolated bright sample, and the white-balance
// measurement.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "driver/pixel/bayer_sites.h"
#include "driver/pixel/pixel_levels.h"
#include "tests/driver/pixel/work_frame.h"
#include "tests/support/kernel_test.h"

namespace bayercam::testing {
namespace {

const char* const kPhaseNames[4] = {"GRBG", "BGGR", "RGGB", "GBRG"};

class PixelKernels : public host::testing::KernelTest,
                     public ::testing::WithParamInterface<PixelIsa> {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        table_ = GetPixelKernelTable(GetParam());
        if (table_ == nullptr) GTEST_SKIP() << "this CPU lacks the level";
    }

    const PixelKernelTable& table() const { return *table_; }

    // Every pixel of the frame must be `expected`.
    static void expectEveryPixel(const WorkFrame& frame, const std::vector<std::uint8_t>& out,
                                 Pixel expected, const std::string& what) {
        for (int y = 0; y < frame.height(); ++y) {
            for (int x = 0; x < frame.width(); ++x) {
                const Pixel got = frame.pixel(out, y, x);
                ASSERT_EQ(got, expected) << what << " at (" << y << ", " << x << ")";
            }
        }
    }

  private:
    const PixelKernelTable* table_ = nullptr;
};

// ---------------------------------------------------------------- uniform fields

using Matrix = std::array<std::int32_t, 16>;
const Matrix kIdentity = {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64};
// Red darkened by 10: a negative constant term.
const Matrix kRedLess10 = {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, -640, 0, 0, 64};
// With 16-bit accumulators 200 x 400 would wrap: red 1250 -> 255, blue 200 - 1250 -> 0.
const Matrix kWide = {400, 0, 0, 0, 0, 64, 0, 0, 0, 0, -400, 0, 0, 0, 12800, 64};
const Matrix kHuge = {1 << 30, 0, 0, 0, 0, 64, 0, 0, 0, 0, -(1 << 30), 0, 0, 0, 0, 64};
// P = 63 x 1 + 1 = 64 -> 1, N = 63 -> 0: (P >> 6) - (N >> 6) = 1 where (P - N) >> 6 = 0.
const Matrix kApart = {63, 0, 0, 0, -63, 64, 0, 0, 0, 0, 64, 0, 1, 0, 0, 64};
const Matrix kBlack = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -16320, -16320, -16320, 64};

struct Uniform {
    int width;
    int phase;  // -1: every phase
    bool grey;
    std::uint8_t level;
    std::array<std::uint32_t, 3> gains;  // red, green, blue
    const Matrix& matrix;
    Pixel expected;
};

// The level kept, a red gain of 256, gains whose high bits must be ignored, gains from 32768
// that saturate, the constant term, wide sums, grey luminance, grey gains without the matrix.
const std::array<std::uint32_t, 3> kUnit = {128, 128, 128};
const Uniform kUniformCases[] = {
    {37, -1, false, 0, kUnit, kIdentity, {0, 0, 0, 255}},
    {37, -1, false, 77, kUnit, kIdentity, {77, 77, 77, 255}},
    {37, -1, false, 255, kUnit, kIdentity, {255, 255, 255, 255}},
    {40, PhaseBGGR, false, 127, {256, 128, 128}, kIdentity, {127, 127, 254, 255}},
    {40, PhaseBGGR, false, 128, {256, 128, 128}, kIdentity, {128, 128, 255, 255}},
    {33, PhaseRGGB, false, 90, {65664, 0x7FFF0080u, 128}, kIdentity, {90, 90, 90, 255}},
    {16, PhaseGRBG, false, 1, {32768, 65535, 256}, kIdentity, {2, 255, 255, 255}},
    {16, PhaseGRBG, false, 0, {32768, 65535, 256}, kIdentity, {0, 0, 0, 255}},
    {48, PhaseGBRG, false, 5, kUnit, kRedLess10, {5, 5, 0, 255}},
    {48, PhaseGBRG, false, 11, kUnit, kRedLess10, {11, 11, 1, 255}},
    {64, PhaseBGGR, false, 200, kUnit, kWide, {0, 200, 255, 255}},
    {64, PhaseBGGR, false, 200, kUnit, kHuge, {0, 200, 255, 255}},
    {17, PhaseBGGR, false, 1, kUnit, kApart, {1, 1, 1, 255}},
    {21, -1, true, 1, kUnit, kIdentity, {0, 0, 0, 255}},
    {21, -1, true, 128, kUnit, kIdentity, {127, 127, 127, 255}},
    {21, -1, true, 255, kUnit, kIdentity, {253, 253, 253, 255}},
    {24, PhaseBGGR, true, 200, {0, 128, 128}, kBlack, {139, 139, 139, 255}},
};

TEST_P(PixelKernels, UniformFields) {
    for (std::size_t i = 0; i < std::size(kUniformCases); ++i) {
        const Uniform& c = kUniformCases[i];
        WorkFrame frame(c.width, 8);
        frame.fill(c.level);
        frame.setGains(c.gains[0], c.gains[1], c.gains[2]);
        frame.setMatrix(c.matrix);
        for (int phase = 0; phase < 4; ++phase) {
            if (c.phase >= 0 && phase != c.phase) continue;
            const auto& members = c.grey ? table().convertGray : table().convertColor;
            expectEveryPixel(frame, frame.convert(members[phase]), c.expected,
                             "case " + std::to_string(i) + " " + kPhaseNames[phase]);
        }
    }
}

// Around a lone 255 at a blue site of BGGR the filters with negative weights must give 0.
TEST_P(PixelKernels, IsolatedBrightSampleGivesNoNegativeWrapAround) {
    WorkFrame frame(32, 16);
    frame.fill(0);
    frame.at(8, 8) = 255;
    const auto out = frame.convert(table().convertColor[PhaseBGGR]);
    // The blue site itself: red from D (12 x 255 / 16), green from X (4 x 255 / 8).
    EXPECT_EQ(frame.pixel(out, 8, 8), (Pixel{255, 128, 191, 255}));
    // Green site to its right in a blue row: blue from H (8 x 255 / 16), red from V (weight 0).
    EXPECT_EQ(frame.pixel(out, 8, 9), (Pixel{128, 0, 0, 255}));
    // Blue sites two away see weight -3 (D) and -1 (X): 0, not a wrapped value.
    for (auto [y, x] : {std::pair{8, 10}, {8, 6}, {6, 8}, {10, 8}}) {
        EXPECT_EQ(frame.pixel(out, y, x), (Pixel{0, 0, 0, 255})) << "at " << y << ", " << x;
    }
    // Red site diagonally next to it: blue from D (weight +4), green from X (weight 0).
    EXPECT_EQ(frame.pixel(out, 9, 9), (Pixel{64, 0, 0, 255}));
}

// ---------------------------------------------------------------- white balance

// Only image columns count, a black frame leaves the gains as they were, and a lone green
// sample against full red and blue gives gains limited to 16 bits.
TEST_P(PixelKernels, WhiteBalanceMeasurement) {
    using Gains = std::array<std::uint32_t, 3>;
    for (int phase = 0; phase < 4; ++phase) {
        WorkFrame uniform(32, 8);
        uniform.fill(77);
        EXPECT_EQ(uniform.measure(table().measureWhiteBalance[phase], {1, 2, 3}),
                  (Gains{128, 128, 128}))
            << kPhaseNames[phase];
    }
    WorkFrame frame(20, 8);
    frame.fill(255);
    for (int y = -2; y < 10; ++y) {
        for (int x = -2; x < 22; ++x) frame.at(y, x) = 60;
    }
    EXPECT_EQ(frame.measure(table().measureWhiteBalance[PhaseBGGR]), (Gains{128, 128, 128}))
        << "columns past the image";
    frame.fill(0);
    EXPECT_EQ(frame.measure(table().measureWhiteBalance[PhaseBGGR], {300, 128, 77}),
              (Gains{300, 128, 77}))
        << "black frame";
    for (int y = -2; y < 10; ++y) {
        for (int x = -2; x < 22; ++x) {
            const BayerSite site = kPhaseSites[PhaseBGGR][y & 1][x & 1];
            if (site == SiteRed || site == SiteBlue) frame.at(y, x) = 255;
        }
    }
    frame.at(4, 5) = 1;
    const Gains gains = frame.measure(table().measureWhiteBalance[PhaseBGGR]);
    EXPECT_EQ(gains[1], 128u);
    EXPECT_GE(std::min(gains[0], gains[2]), 1u);
    EXPECT_LE(std::max(gains[0], gains[2]), 65535u);
}

INSTANTIATE_TEST_SUITE_P(Levels, PixelKernels,
                         ::testing::Values(PixelIsaReference, PixelIsaSse2, PixelIsaAvx2,
                                           PixelIsaAvx512),
                         [](const auto& info) { return LevelName(info.param); });

// ---------------------------------------------------------------- gains from sums

class WhiteBalanceGainsFromSums : public host::testing::KernelTest {
  protected:
    static std::array<std::uint32_t, 3> gains(ULONG64 r, ULONG64 g, ULONG64 b,
                                              std::array<std::uint32_t, 3> before = {0, 0, 0}) {
        ULONG red = before[0], green = before[1], blue = before[2];
        WhiteBalanceGains(r, g, b, &red, &green, &blue);
        return {red, green, blue};
    }
};

// Quoted sums, a zero sum (every gain unchanged) and the limits 1 and 65535.
TEST_F(WhiteBalanceGainsFromSums, GainsFromSums) {
    using Gains = std::array<std::uint32_t, 3>;
    const Gains before{300, 129, 77};
    const std::pair<std::array<ULONG64, 3>, Gains> cases[] = {
        {{1000, 2000, 2000}, {256, 128, 128}},
        {{2, 5, 4}, {319, 128, 159}},
        {{3, 9, 10}, {383, 128, 115}},
        {{7, 7, 7}, {128, 128, 128}},
        {{0, 0, 0}, before},
        {{0, 10, 10}, before},
        {{10, 0, 10}, before},
        {{10, 10, 0}, before},
        {{1, 355123200, 1}, {65535, 128, 65535}},
        {{355123200, 1, 355123200}, {1, 128, 1}},
    };
    for (const auto& [sums, expected] : cases) {
        EXPECT_EQ(gains(sums[0], sums[1], sums[2], before), expected)
            << sums[0] << ", " << sums[1] << ", " << sums[2];
    }
}

}  // namespace
}  // namespace bayercam::testing
