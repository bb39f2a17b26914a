// What the simulated camera's moving scene, sent exactly, must look like after the driver's
// conversion with the default settings: the reference conversion of the frame it sent.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/driver/streaming/capture_fixture.h"

namespace bayercam::app::testing {

// The camera frame number whose reference conversion equals the picture (BGRA, rows packed,
// top row first, of the region with the flips), searched around the driver's picture number;
// -1 if none.
std::int64_t matchingMovingFrame(const std::vector<std::uint8_t>& uprightBgra,
                                 std::int64_t pictureNumber,
                                 const bayercam::testing::Region& region = {}, bool flipH = false,
                                 bool flipV = false);

}  // namespace bayercam::app::testing
