// What a capture counts from the picture numbers and presentation times of the frames taken.
#include "app/tool/capture_statistics.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

namespace bayercam::app::testing {
namespace {

TEST(CaptureStatistics, LostFramesAreGapsFromPictureOneAndTheRateSpansTheRun) {
    // Three frames taken 1/30 s apart: lost frames, and frames per second.
    const std::tuple<std::array<std::int64_t, 3>, std::uint64_t, double> cases[] = {
        {{1, 2, 3}, 0, 30.0},
        {{3, 4, 6}, 3, 30.0},  // 1 and 2 before the first frame taken, 5 between
        {{0, 0, 0}, 0, 30.0},  // frames without picture numbers
    };
    for (const auto& [pictures, lost, framesPerSecond] : cases) {
        CaptureStatistics statistics;
        for (std::int64_t i = 0; i < 3; ++i) statistics.frameTaken(pictures[i], i * 333333);
        EXPECT_EQ(statistics.lost(), lost) << "first picture " << pictures[0];
        EXPECT_NEAR(statistics.framesPerSecond(), framesPerSecond, 0.01);
    }
}

}  // namespace
}  // namespace bayercam::app::testing
