// The pixel kernels against values worked out by hand, on every level the CPU runs: uniform
// fields, gains, the constant term, an isolated bright sample, output packing, grey luminance,
// accumulators that must not wrap, and the white-balance measurement.
#include <gtest/gtest.h>

#include <string>

#include "driver/pixel/bayer_sites.h"
#include "driver/pixel/pixel_levels.h"
#include "tests/driver/pixel/work_frame.h"
#include "tests/support/kernel_test.h"

namespace bayercam::testing {
namespace {

const char* const kPhaseNames[4] = {"GRBG", "BGGR", "RGGB", "GBRG"};

std::string levelName(const ::testing::TestParamInfo<PixelIsa>& info) {
    const char* const names[] = {"Reference", "Sse2", "Avx2", "Avx512"};
    return names[info.param];
}

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

// ---------------------------------------------------------------- colour

TEST_P(PixelKernels, UniformFieldKeepsItsLevelInEveryPhase) {
    WorkFrame frame(37, 9);
    for (int v : {0, 1, 77, 128, 200, 255}) {
        frame.fill(static_cast<std::uint8_t>(v));
        for (int phase = 0; phase < 4; ++phase) {
            const auto out = frame.convert(table().convertColor[phase]);
            const auto level = static_cast<std::uint8_t>(v);
            expectEveryPixel(frame, out, {level, level, level, 255},
                             std::string(kPhaseNames[phase]) + " v=" + std::to_string(v));
        }
    }
}

TEST_P(PixelKernels, RedGainOf256DoublesRedOnly) {
    WorkFrame frame(40, 8);
    frame.setGains(256, 128, 128);
    for (int v : {10, 100, 127, 128, 200}) {
        frame.fill(static_cast<std::uint8_t>(v));
        const auto red = static_cast<std::uint8_t>(std::min(255, 2 * v));
        const auto level = static_cast<std::uint8_t>(v);
        const auto out = frame.convert(table().convertColor[PhaseBGGR]);
        expectEveryPixel(frame, out, {level, level, red, 255}, "v=" + std::to_string(v));
    }
}

TEST_P(PixelKernels, OnlyTheLow16BitsOfAGainCount) {
    WorkFrame frame(33, 8);
    frame.fill(90);
    frame.setGains(65536 + 128, 0x7FFF0000u + 128, 128);
    const auto out = frame.convert(table().convertColor[PhaseRGGB]);
    expectEveryPixel(frame, out, {90, 90, 90, 255}, "gain 65664 acts as 128");
}

TEST_P(PixelKernels, GainsAtOrAbove32768SaturateEveryLitLevel) {
    WorkFrame frame(16, 8);
    frame.setGains(32768, 65535, 256);
    frame.fill(1);
    auto out = frame.convert(table().convertColor[PhaseGRBG]);
    expectEveryPixel(frame, out, {2, 255, 255, 255}, "v=1");
    frame.fill(0);
    out = frame.convert(table().convertColor[PhaseGRBG]);
    expectEveryPixel(frame, out, {0, 0, 0, 255}, "v=0");
}

TEST_P(PixelKernels, NegativeConstantTermDarkensRed) {
    WorkFrame frame(48, 10);
    frame.setMatrix({64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, -640, 0, 0, 64});
    for (int v : {0, 5, 10, 11, 200}) {
        frame.fill(static_cast<std::uint8_t>(v));
        const auto red = static_cast<std::uint8_t>(std::max(0, v - 10));
        const auto level = static_cast<std::uint8_t>(v);
        const auto out = frame.convert(table().convertColor[PhaseGBRG]);
        expectEveryPixel(frame, out, {level, level, red, 255}, "v=" + std::to_string(v));
    }
}

TEST_P(PixelKernels, AZeroEntryContributesNothingWhicheverSumItJoins) {
    WorkFrame frame(20, 8);
    frame.fill(150);
    auto matrix = std::array<std::int32_t, 16>{64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64};
    frame.setMatrix(matrix);
    for (int i : {1, 2, 4, 6, 8, 9, 12, 13, 14}) frame.pipeline().matrixPositive[i] = 1;
    const auto out = frame.convert(table().convertColor[PhaseBGGR]);
    expectEveryPixel(frame, out, {150, 150, 150, 255}, "zero entries flagged positive");
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
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (std::abs(y - 8) <= 2 && std::abs(x - 8) <= 2) continue;
            ASSERT_EQ(frame.pixel(out, y, x), (Pixel{0, 0, 0, 255})) << "at " << y << ", " << x;
        }
    }
}

// Rows of W = 20 are 16 + 4 pixels with no gap: the green sample of every green site lands
// in its own row. Each work row is uniform, so a green site's green is that row's level.
TEST_P(PixelKernels, Width20RowsArePackedWithoutPadding) {
    WorkFrame frame(20, 9);
    frame.fill(0);
    for (int y = -2; y < 11; ++y) {
        for (int x = -2; x < 22; ++x) frame.at(y, x) = static_cast<std::uint8_t>(20 + 10 * y);
    }
    const auto out = frame.convert(table().convertColor[PhaseBGGR]);
    ASSERT_EQ(out.size(), 20u * 9 * 4);
    for (int y = 0; y < 9; ++y) {
        for (int x = (y & 1) ? 0 : 1; x < 20; x += 2) {
            EXPECT_EQ(frame.pixel(out, y, x)[1], 20 + 10 * y) << "green site " << y << ", " << x;
        }
        for (int x = 0; x < 20; ++x) EXPECT_EQ(frame.pixel(out, y, x)[3], 255);
    }
}

// With 16-bit accumulators 255 x 400 would wrap; the exact value is far above 255.
TEST_P(PixelKernels, MatrixSumsPast65535AreExactNotWrapped) {
    WorkFrame frame(64, 8);
    frame.fill(200);
    frame.setMatrix({400, 0, 0, 0, 0, 64, 0, 0, 0, 0, -400, 0, 0, 0, 12800, 64});
    auto out = frame.convert(table().convertColor[PhaseBGGR]);
    // red 200 x 400 / 64 = 1250 -> 255; blue 12800/64 - 80000/64 (=200 - 1250) -> 0.
    expectEveryPixel(frame, out, {0, 200, 255, 255}, "wide sums");

    frame.setMatrix({1 << 30, 0, 0, 0, 0, 64, 0, 0, 0, 0, -(1 << 30), 0, 0, 0, 0, 64});
    out = frame.convert(table().convertColor[PhaseBGGR]);
    expectEveryPixel(frame, out, {0, 200, 255, 255}, "huge entries");
}

TEST_P(PixelKernels, PositiveAndNegativeSumsAreShiftedApart) {
    WorkFrame frame(17, 8);
    frame.fill(1);
    // P = 63 x 1 + 1 = 64 -> 1; N = 63 -> 0: (P >> 6) - (N >> 6) = 1, where (P - N) >> 6 = 0.
    frame.setMatrix({63, 0, 0, 0, -63, 64, 0, 0, 0, 0, 64, 0, 1, 0, 0, 64});
    const auto out = frame.convert(table().convertColor[PhaseBGGR]);
    expectEveryPixel(frame, out, {1, 1, 1, 255}, "separate shifts");
}

// ---------------------------------------------------------------- grey

TEST_P(PixelKernels, GreyLuminanceOfUniformFields) {
    WorkFrame frame(21, 8);
    const std::pair<int, int> cases[] = {{0, 0},     {1, 0},     {100, 99},
                                         {128, 127}, {200, 199}, {255, 253}};
    for (auto [v, y] : cases) {
        frame.fill(static_cast<std::uint8_t>(v));
        for (int phase = 0; phase < 4; ++phase) {
            const auto out = frame.convert(table().convertGray[phase]);
            const auto level = static_cast<std::uint8_t>(y);
            expectEveryPixel(frame, out, {level, level, level, 255},
                             std::string(kPhaseNames[phase]) + " v=" + std::to_string(v));
        }
    }
}

TEST_P(PixelKernels, GreyAppliesGainsBeforeLuminanceAndIgnoresTheMatrix) {
    WorkFrame frame(24, 8);
    frame.fill(200);
    frame.setGains(0, 128, 128);
    frame.setMatrix({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -16320, -16320, -16320, 64});
    const auto out = frame.convert(table().convertGray[PhaseBGGR]);
    expectEveryPixel(frame, out, {139, 139, 139, 255}, "red gain 0, black matrix");
}

// ---------------------------------------------------------------- white balance

TEST_P(PixelKernels, UniformFieldMeasuresNeutralGains) {
    WorkFrame frame(32, 8);
    frame.fill(77);
    for (int phase = 0; phase < 4; ++phase) {
        const auto gains = frame.measure(table().measureWhiteBalance[phase], {1, 2, 3});
        EXPECT_EQ(gains, (std::array<std::uint32_t, 3>{128, 128, 128})) << kPhaseNames[phase];
    }
}

// Only image columns count: what lies past column W+1 must not move the result.
TEST_P(PixelKernels, MeasurementIgnoresColumnsPastTheImage) {
    WorkFrame frame(20, 8);
    frame.fill(255);
    for (int y = -2; y < 10; ++y) {
        for (int x = -2; x < 22; ++x) frame.at(y, x) = 60;
    }
    const auto gains = frame.measure(table().measureWhiteBalance[PhaseBGGR]);
    EXPECT_EQ(gains, (std::array<std::uint32_t, 3>{128, 128, 128}));
}

TEST_P(PixelKernels, BlackFrameLeavesTheGainsAsTheyWere) {
    WorkFrame frame(40, 8);
    frame.fill(0);
    const auto gains = frame.measure(table().measureWhiteBalance[PhaseBGGR], {300, 128, 77});
    EXPECT_EQ(gains, (std::array<std::uint32_t, 3>{300, 128, 77}));
}

TEST_P(PixelKernels, RedOnlyFieldGivesGainsLimitedTo16Bits) {
    WorkFrame frame(32, 8);
    frame.fill(0);
    // One lone green sample per frame against full red and blue.
    for (int y = -2; y < 10; ++y) {
        for (int x = -2; x < 34; ++x) {
            const BayerSite site = kPhaseSites[PhaseBGGR][y & 1][x & 1];
            if (site == SiteRed || site == SiteBlue) frame.at(y, x) = 255;
        }
    }
    frame.at(4, 5) = 1;
    const auto gains = frame.measure(table().measureWhiteBalance[PhaseBGGR]);
    EXPECT_EQ(gains[1], 128u);
    EXPECT_GE(gains[0], 1u);
    EXPECT_LE(gains[0], 65535u);
    EXPECT_GE(gains[2], 1u);
}

INSTANTIATE_TEST_SUITE_P(Levels, PixelKernels,
                         ::testing::Values(PixelIsaReference, PixelIsaSse2, PixelIsaAvx2,
                                           PixelIsaAvx512),
                         levelName);

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

TEST_F(WhiteBalanceGainsFromSums, QuotedSumsGiveTheDoublePrecisionResults) {
    EXPECT_EQ(gains(1000, 2000, 2000), (std::array<std::uint32_t, 3>{256, 128, 128}));
    EXPECT_EQ(gains(2, 5, 4), (std::array<std::uint32_t, 3>{319, 128, 159}));
    EXPECT_EQ(gains(3, 9, 10), (std::array<std::uint32_t, 3>{383, 128, 115}));
    EXPECT_EQ(gains(7, 7, 7), (std::array<std::uint32_t, 3>{128, 128, 128}));
}

TEST_F(WhiteBalanceGainsFromSums, AZeroSumLeavesEveryGainUnchanged) {
    const std::array<std::uint32_t, 3> before{300, 129, 77};
    EXPECT_EQ(gains(0, 0, 0, before), before);
    EXPECT_EQ(gains(0, 10, 10, before), before);
    EXPECT_EQ(gains(10, 0, 10, before), before);
    EXPECT_EQ(gains(10, 10, 0, before), before);
}

TEST_F(WhiteBalanceGainsFromSums, GainsAreLimitedTo1Through65535) {
    EXPECT_EQ(gains(1, 355123200, 1), (std::array<std::uint32_t, 3>{65535, 128, 65535}));
    EXPECT_EQ(gains(355123200, 1, 355123200), (std::array<std::uint32_t, 3>{1, 128, 1}));
}

}  // namespace
}  // namespace bayercam::testing
