// What a capture counts from the picture numbers and presentation times of the frames taken.
#include "app/tool/capture_statistics.h"

#include <gtest/gtest.h>

#include <vector>

namespace bayercam::app::testing {
namespace {

struct Taken {
    std::vector<std::int64_t> pictures;
    std::vector<std::int64_t> times;  // 100-ns units
    std::uint64_t lost;
    double framesPerSecond;
};

TEST(CaptureStatistics, LostFramesAreGapsFromPictureOneAndTheRateSpansTheRun) {
    const Taken cases[] = {
        {{1, 2, 3}, {0, 333333, 666666}, 0, 30.0},
        {{3, 4, 6}, {0, 333333, 1000000}, 3, 20.0},  // 1 and 2 before the first, 5 between
        {{1}, {400000}, 0, 0.0},
        {{0, 0}, {0, 500000}, 0, 20.0},  // frames without picture numbers
    };
    for (const Taken& taken : cases) {
        CaptureStatistics statistics;
        for (std::size_t i = 0; i < taken.pictures.size(); ++i)
            statistics.frameTaken(taken.pictures[i], taken.times[i]);
        EXPECT_EQ(statistics.lost(), taken.lost) << "first picture " << taken.pictures[0];
        EXPECT_NEAR(statistics.framesPerSecond(), taken.framesPerSecond, 0.01);
    }
}

}  // namespace
}  // namespace bayercam::app::testing
