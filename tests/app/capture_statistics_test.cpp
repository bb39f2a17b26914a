// What a capture counts from the picture numbers and presentation times of the frames taken.
#include "app/tool/capture_statistics.h"
#include "app/tool/frame_patience.h"

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

// A camera slower than the driver's Timeout is named as the cause, with a Timeout that would do.
TEST(FramePatience, ATimeoutShorterThanTheFrameIntervalIsNamed) {
    using std::chrono::milliseconds;
    const FramePatience slow{milliseconds(600), std::chrono::microseconds(666667)};
    EXPECT_EQ(slow.limit(), milliseconds(600 + 1334 + 1000));
    const std::string message = slow.noFrameMessage();
    EXPECT_NE(message.find("Timeout (600 ms) is shorter than the camera's frame interval (667 ms)"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("Timeout=1167"), std::string::npos) << message;
    const FramePatience fast{milliseconds(600), std::chrono::microseconds(33333)};
    EXPECT_EQ(fast.noFrameMessage().find("shorter than"), std::string::npos);
}

}  // namespace
}  // namespace bayercam::app::testing
