// The simulated camera's frame making: a frame kept from before is reused only when it would
// come out the same, and the fast level table gives the sensor's readings as defined per sample.
#include "sim/frame_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "sim/camera_protocol.h"
#include "sim/simulated_camera.h"

namespace bayercam::sim {
namespace {

// The raw frame made from nothing, the way the camera defines it: the scene drawn, each site's
// colour sampled, then scaled with noise of -1..+1 from the frame's generator unless exact.
std::vector<std::uint8_t> definedFrame(const Scene& scene, std::uint64_t n, double scale,
                                       bool exact) {
    RgbImage image{kSensorWidth, kSensorHeight, std::vector<std::uint8_t>(kFrameBytes * 3)};
    scene.render(n, image);
    std::vector<std::uint8_t> raw(kFrameBytes);
    std::uint64_t noise = n * 0x9E3779B97F4A7C15ull + 1;
    for (int y = 0; y < kSensorHeight; ++y) {
        for (int x = 0; x < kSensorWidth; ++x) {
            const std::uint8_t sample = image.pixel(x, y)[bayerChannel(x, y)];
            std::uint8_t& out = raw[std::size_t(y) * kSensorWidth + x];
            if (exact) {
                out = sample;
                continue;
            }
            noise ^= noise << 13;
            noise ^= noise >> 7;
            noise ^= noise << 17;
            const double level = sample * scale + static_cast<int>(noise % 3) - 1;
            out = static_cast<std::uint8_t>(std::clamp(std::lround(level), 0l, 255l));
        }
    }
    return raw;
}

// Where two frames first differ, for the failure message.
std::string firstDifference(const std::vector<std::uint8_t>& got,
                            const std::vector<std::uint8_t>& expected) {
    auto [a, b] = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
    if (a == got.end() && b == expected.end()) return "none";
    const auto at = std::size_t(a - got.begin());
    return "byte " + std::to_string(at) + ": got " + std::to_string(a == got.end() ? -1 : *a) +
           ", expected " + std::to_string(b == expected.end() ? -1 : *b);
}

#define EXPECT_FRAME_EQ(got, expected) \
    EXPECT_TRUE((got) == (expected))   \
        << "first difference at " << firstDifference(got, expected) << "; "

TEST(FrameRenderer, AStillSceneFollowsEveryChangeOfSettings) {
    auto bars = makeColorBars();
    FrameRenderer renderer;
    EXPECT_FRAME_EQ(renderer.render(bars, 0, {1.0, true, 0}), definedFrame(*bars, 0, 1.0, true));
    EXPECT_FRAME_EQ(renderer.render(bars, 9, {1.0, true, 0}), definedFrame(*bars, 9, 1.0, true));
    EXPECT_FRAME_EQ(renderer.render(bars, 10, {1.7, false, 0}), definedFrame(*bars, 10, 1.7, false))
        << "scale and noise applied once exact is off";
    EXPECT_FRAME_EQ(renderer.render(bars, 11, {1.7, false, 0}), definedFrame(*bars, 11, 1.7, false))
        << "the noise is the frame's own";
    EXPECT_FRAME_EQ(renderer.render(bars, 12, {0.6, false, 0}), definedFrame(*bars, 12, 0.6, false))
        << "a new scale";
    EXPECT_FRAME_EQ(renderer.render(bars, 13, {0.6, true, 0}), definedFrame(*bars, 13, 0.6, true))
        << "back to exact: the scene's samples unchanged";
}

TEST(FrameRenderer, AnotherSceneOfTheSameKindIsDrawnAgain) {
    FrameRenderer renderer;
    auto moving = makeMovingPattern();
    auto bars = makeColorBars();
    renderer.render(moving, 0, {1.0, true, 0});
    EXPECT_FRAME_EQ(renderer.render(bars, 0, {1.0, true, 0}), definedFrame(*bars, 0, 1.0, true))
        << "same frame number and settings, other scene";
    auto otherBars = makeColorBars();
    EXPECT_FRAME_EQ(renderer.render(otherBars, 0, {1.0, false, 0}),
                    definedFrame(*otherBars, 0, 1.0, false));
    EXPECT_FRAME_EQ(renderer.render(moving, 0, {1.0, false, 0}),
                    definedFrame(*moving, 0, 1.0, false))
        << "the first scene again, after the others";
}

}  // namespace
}  // namespace bayercam::sim
