// The twelve named members: each runs its own phase's member of the selected level (through the
// vector-state bracket, empty on the host) with the caller's arguments, on every level the CPU
// runs.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "driver/pixel/bayer_sites.h"
#include "driver/pixel/pixel_kernels.h"
#include "tests/driver/pixel/work_frame.h"
#include "tests/support/kernel_test.h"

namespace bayercam::testing {
namespace {

const ConvertKernel kColorMembers[4] = {ConvertColorGRBG, ConvertColorBGGR, ConvertColorRGGB,
                                        ConvertColorGBRG};
const ConvertKernel kGrayMembers[4] = {ConvertGrayGRBG, ConvertGrayBGGR, ConvertGrayRGGB,
                                       ConvertGrayGBRG};
const MeasureKernel kMeasureMembers[4] = {MeasureWhiteBalanceGRBG, MeasureWhiteBalanceBGGR,
                                          MeasureWhiteBalanceRGGB, MeasureWhiteBalanceGBRG};

std::string levelName(const ::testing::TestParamInfo<PixelIsa>& info) {
    const char* const names[] = {"Reference", "Sse2", "Avx2", "Avx512"};
    return names[info.param];
}

class KernelDispatch : public host::testing::KernelTest,
                       public ::testing::WithParamInterface<PixelIsa> {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        table_ = GetPixelKernelTable(GetParam());
        if (table_ == nullptr) GTEST_SKIP() << "this CPU lacks the level";
        ASSERT_TRUE(SelectPixelKernelLevel(GetParam()));
        std::mt19937 rng(20261206);
        frame_.fillRandom(rng);
        frame_.setGains(150, 128, 97);
        frame_.setMatrix({70, -5, 2, 0, -9, 80, -3, 0, 4, -12, 66, 0, 10, -20, 5, 64});
    }
    void TearDown() override {
        SelectPixelKernelLevel(BestPixelIsa());
        KernelTest::TearDown();
    }

    const PixelKernelTable* table_ = nullptr;
    WorkFrame frame_{45, 11};
};

TEST_P(KernelDispatch, ColourMembersRunTheirPhase) {
    for (int phase = 0; phase < 4; ++phase) {
        EXPECT_EQ(frame_.convert(kColorMembers[phase]), frame_.convert(table_->convertColor[phase]))
            << "phase " << phase;
    }
    EXPECT_NE(frame_.convert(ConvertColorGRBG), frame_.convert(ConvertColorRGGB))
        << "a random frame tells the phases apart";
}

TEST_P(KernelDispatch, GreyMembersRunTheirPhase) {
    for (int phase = 0; phase < 4; ++phase) {
        EXPECT_EQ(frame_.convert(kGrayMembers[phase]), frame_.convert(table_->convertGray[phase]))
            << "phase " << phase;
    }
}

TEST_P(KernelDispatch, MeasureMembersRunTheirPhaseWithTheCallersResults) {
    for (int phase = 0; phase < 4; ++phase) {
        const std::array<std::uint32_t, 3> initial = {300, 128, 40};
        EXPECT_EQ(frame_.measure(kMeasureMembers[phase], initial),
                  frame_.measure(table_->measureWhiteBalance[phase], initial))
            << "phase " << phase;
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, KernelDispatch,
                         ::testing::Values(PixelIsaReference, PixelIsaSse2, PixelIsaAvx2,
                                           PixelIsaAvx512),
                         levelName);

}  // namespace
}  // namespace bayercam::testing
