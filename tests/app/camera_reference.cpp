#include "tests/app/camera_reference.h"

#include "sim/simulated_camera.h"
#include "tests/driver/streaming/capture_fixture.h"

namespace bayercam::app::testing {

std::int64_t matchingMovingFrame(const std::vector<std::uint8_t>& uprightBgra,
                                 std::int64_t pictureNumber) {
    // Exact frames carry the scene unchanged, so a camera of our own renders the same ones.
    const sim::SimulatedCamera camera({.exact = true, .scene = sim::makeMovingPattern()});
    // The picture number counts frames read when the frame was delivered; the picture may be
    // from a frame read earlier, further back on a loaded machine.
    for (std::int64_t distance = 0; distance <= 24; ++distance) {
        for (std::int64_t n : {pictureNumber - 1 - distance, pictureNumber - 1 + distance}) {
            if (n < 0 || (n > pictureNumber - 1 && distance > 4)) continue;
            const std::vector<std::uint8_t> picture = bayercam::testing::ReferencePicture(
                camera.renderFrame(std::uint64_t(n)), bayercam::testing::Region{},
                bayercam::testing::PictureSettings{});
            if (picture == uprightBgra) return n;
            if (distance == 0) break;
        }
    }
    return -1;
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
