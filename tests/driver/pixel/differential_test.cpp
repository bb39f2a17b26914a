// Every fast level against the scalar reference over random work buffers: all phases, widths
// 1..64 and 1360, odd and small heights, random gains (above 65535 too) and random matrices
// from neutral to extreme; and the named members of each level. Work and output buffers end
// against an inaccessible page, so any read or write outside them faults. Set
// BAYERCAM_FUZZ_SEED to replay a failing seed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "driver/pixel/bayer_sites.h"
#include "driver/pixel/pixel_kernels.h"
#include "tests/driver/pixel/work_frame.h"
#include "tests/support/kernel_test.h"

namespace bayercam::testing {
namespace {

std::uint32_t fuzzSeed() {
    if (const char* fixed = std::getenv("BAYERCAM_FUZZ_SEED")) {
        return static_cast<std::uint32_t>(std::strtoul(fixed, nullptr, 10));
    }
    return std::random_device{}();
}

// Gains around 1.0, anywhere in 16 bits, or with high bits set that must be ignored.
std::uint32_t randomGain(std::mt19937& rng) {
    switch (rng() % 4) {
        case 0:
            return 64 + rng() % 256;
        case 1:
            return rng() % 65536;
        case 2:
            return static_cast<std::uint32_t>(rng());
        default:
            return 128;
    }
}

// The shape of the correction matrix: each channel's own input positive, the others negative.
// Half of them have small negative entries (each pair summing to at most 128, the widest the
// byte-product path takes, its limit included) and own entries up to 257 (the widest a 16-bit
// P allows).
std::array<std::int32_t, 16> randomDiagonalSignMatrix(std::mt19937& rng) {
    std::array<std::int32_t, 16> m{};
    const bool constantTerms = rng() % 2;
    const bool small = rng() % 2;
    for (int j = 0; j < 3; ++j) {
        const auto k = static_cast<std::int32_t>(small ? rng() % 129 : rng() % 90);
        const auto l = static_cast<std::int32_t>(small ? rng() % (129 - k) : rng() % 90);
        const auto own = static_cast<std::int32_t>(small && rng() % 4 == 0 ? 257 : rng() % 90);
        m[4 * j + j] = own;
        m[4 * ((j + 1) % 3) + j] = -k;
        m[4 * ((j + 2) % 3) + j] = -(small && rng() % 4 == 0 ? 128 - k : l);
        if (constantTerms) m[12 + j] = static_cast<std::int32_t>(rng() % 8001) - 4000;
    }
    m[15] = 64;
    return m;
}

// Matrices of the widths the fast levels handle differently: sums that fit 16 bits (also in
// the shape of the correction matrix), entries that fit a signed 16-bit multiplier, and
// entries of any 32-bit value.
std::array<std::int32_t, 16> randomMatrix(std::mt19937& rng) {
    std::array<std::int32_t, 16> m{};
    const int kind = rng() % 5;
    if (kind == 4) return randomDiagonalSignMatrix(rng);
    for (int i = 0; i < 16; ++i) {
        const bool constant = i >= 12;
        switch (kind) {
            case 0:
                m[i] = static_cast<std::int32_t>(rng() % 129) - 64;
                if (constant) m[i] = static_cast<std::int32_t>(rng() % 16001) - 8000;
                break;
            case 1:
                m[i] = static_cast<std::int32_t>(rng() % 1201) - 600;
                if (constant) m[i] = static_cast<std::int32_t>(rng() % 40001) - 20000;
                break;
            case 2:
                m[i] = static_cast<std::int32_t>(rng() % 65535) - 32767;
                break;
            default:
                m[i] = static_cast<std::int32_t>(rng());
                break;
        }
        if (rng() % 5 == 0) m[i] = 0;
    }
    if (kind == 3 && rng() % 2) m[rng() % 12] = INT32_MIN;
    return m;
}

class FastLevelsMatchReference : public host::testing::KernelTest,
                                 public ::testing::WithParamInterface<PixelIsa> {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        fast_ = GetPixelKernelTable(GetParam());
        if (fast_ == nullptr) GTEST_SKIP() << "this CPU lacks the level";
        seed_ = fuzzSeed();
        rng_.seed(seed_);
    }

    // One random frame, compared on all twelve members.
    void compareOnRandomFrame(int width, int height) {
        SCOPED_TRACE("fuzz seed " + std::to_string(seed_) + ", W " + std::to_string(width) +
                     ", H " + std::to_string(height));
        WorkFrame frame(width, height);
        frame.fillRandom(rng_);
        if (rng_() % 3 == 0) {
            frame.setGains(128, 128, 128);
        } else {
            frame.setGains(randomGain(rng_), randomGain(rng_), randomGain(rng_));
        }
        frame.setMatrix(randomMatrix(rng_));
        const PixelKernelTable& reference = *GetPixelKernelTable(PixelIsaReference);
        for (int phase = 0; phase < 4; ++phase) {
            SCOPED_TRACE("phase " + std::to_string(phase));
            expectSameFrame(frame.convert(reference.convertColor[phase]),
                            frame.convert(fast_->convertColor[phase]), width, "colour");
            expectSameFrame(frame.convert(reference.convertGray[phase]),
                            frame.convert(fast_->convertGray[phase]), width, "grey");
            const std::array<std::uint32_t, 3> before{static_cast<std::uint32_t>(rng_() % 70000),
                                                      128,
                                                      static_cast<std::uint32_t>(rng_() % 70000)};
            EXPECT_EQ(frame.measure(reference.measureWhiteBalance[phase], before),
                      frame.measure(fast_->measureWhiteBalance[phase], before))
                << "white balance";
        }
    }

    static void expectSameFrame(const std::vector<std::uint8_t>& expected,
                                const std::vector<std::uint8_t>& got, int width, const char* what) {
        ASSERT_EQ(expected.size(), got.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            if (expected[i] != got[i]) {
                const std::size_t pixel = i / 4;
                FAIL() << what << ": first difference at pixel (" << pixel / width << ", "
                       << pixel % width << ") byte " << i % 4 << ": expected " << int(expected[i])
                       << ", got " << int(got[i]);
            }
        }
    }

    std::mt19937 rng_;
    std::uint32_t seed_ = 0;
    const PixelKernelTable* fast_ = nullptr;
};

// Every width from 1 to 64, small and odd heights, the full sensor width, then random sizes.
TEST_P(FastLevelsMatchReference, EverySize) {
    std::vector<std::pair<int, int>> sizes;
    for (int width = 1; width <= 64; ++width) sizes.push_back({width, 1 + int(rng_() % 9)});
    for (int height : {0, 1, 2, 3, 4, 5, 7, 8, 9, 11})
        sizes.push_back({1 + int(rng_() % 100), height});
    for (int height : {7, 8, 9}) sizes.push_back({1360, height});
    for (int round = 0; round < 40; ++round)
        sizes.push_back({1 + int(rng_() % 300), 1 + int(rng_() % 12)});
    for (auto [width, height] : sizes) {
        compareOnRandomFrame(width, height);
        if (HasFailure()) return;
    }
}

// Each named member runs its own phase's member of the selected level.
TEST_P(FastLevelsMatchReference, NamedMembersRunTheirPhaseOfTheSelectedLevel) {
    const ConvertKernel colour[4] = {ConvertColorGRBG, ConvertColorBGGR, ConvertColorRGGB,
                                     ConvertColorGBRG};
    const ConvertKernel grey[4] = {ConvertGrayGRBG, ConvertGrayBGGR, ConvertGrayRGGB,
                                   ConvertGrayGBRG};
    const MeasureKernel measure[4] = {MeasureWhiteBalanceGRBG, MeasureWhiteBalanceBGGR,
                                      MeasureWhiteBalanceRGGB, MeasureWhiteBalanceGBRG};
    ASSERT_TRUE(SelectPixelKernelLevel(GetParam()));
    WorkFrame frame(45, 11);
    frame.fillRandom(rng_);
    frame.setGains(150, 128, 97);
    frame.setMatrix({70, -5, 2, 0, -9, 80, -3, 0, 4, -12, 66, 0, 10, -20, 5, 64});
    for (int phase = 0; phase < 4; ++phase) {
        EXPECT_EQ(frame.convert(colour[phase]), frame.convert(fast_->convertColor[phase]));
        EXPECT_EQ(frame.convert(grey[phase]), frame.convert(fast_->convertGray[phase]));
        EXPECT_EQ(frame.measure(measure[phase], {300, 128, 40}),
                  frame.measure(fast_->measureWhiteBalance[phase], {300, 128, 40}));
    }
    EXPECT_NE(frame.convert(ConvertColorGRBG), frame.convert(ConvertColorRGGB))
        << "a random frame tells the phases apart";
    SelectPixelKernelLevel(BestPixelIsa());
}

INSTANTIATE_TEST_SUITE_P(Levels, FastLevelsMatchReference,
                         ::testing::Values(PixelIsaSse2, PixelIsaAvx2, PixelIsaAvx512),
                         [](const auto& info) { return LevelName(info.param); });

}  // namespace
}  // namespace bayercam::testing
