#include "tests/app/camera_reference.h"

#include "sim/simulated_camera.h"
#include "tests/driver/streaming/capture_fixture.h"

namespace bayercam::app::testing {

std::int64_t matchingMovingFrame(const std::vector<std::uint8_t>& uprightBgra,
                                 std::int64_t pictureNumber) {
    // Exact frames carry the scene unchanged, so a camera of our own renders the same ones.
    static const sim::SimulatedCamera camera({.exact = true, .scene = sim::makeMovingPattern()});
    host::ks::StreamFrame frame;
    frame.data = uprightBgra;
    frame.frameInfo.PictureNumber = pictureNumber;
    // A client frame with FlipV holds the rows top-down.
    return bayercam::testing::MatchingCameraFrame(camera, frame, {}, {}, 1360 * 4, false, true);
}

std::vector<std::uint8_t> rgbToBgra(const std::vector<std::uint8_t>& rgb) {
    std::vector<std::uint8_t> bgra(rgb.size() / 3 * 4);
    for (std::size_t i = 0; i < rgb.size() / 3; ++i) {
        bgra[i * 4 + 0] = rgb[i * 3 + 2];
        bgra[i * 4 + 1] = rgb[i * 3 + 1];
        bgra[i * 4 + 2] = rgb[i * 3 + 0];
        bgra[i * 4 + 3] = 255;
    }
    return bgra;
}

}  // namespace bayercam::app::testing
