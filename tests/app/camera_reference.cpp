#include "tests/app/camera_reference.h"

#include "sim/simulated_camera.h"
#include "tests/driver/streaming/capture_fixture.h"

namespace bayercam::app::testing {

std::int64_t matchingMovingFrame(const std::vector<std::uint8_t>& uprightBgra,
                                 std::int64_t pictureNumber,
                                 const bayercam::testing::Region& region, bool flipH, bool flipV) {
    // Exact frames carry the scene unchanged, so a camera of our own renders the same ones.
    static const sim::SimulatedCamera camera({.exact = true, .scene = sim::makeMovingPattern()});
    host::ks::StreamFrame frame;
    frame.data = uprightBgra;
    frame.frameInfo.PictureNumber = pictureNumber;
    // A client frame with FlipV holds the rows top-down, as an upright picture without flips.
    const LONG step = (region.width - region.width % 8) * 4;
    return bayercam::testing::MatchingCameraFrame(camera, frame, region, {}, step, flipH, !flipV);
}

}  // namespace bayercam::app::testing
