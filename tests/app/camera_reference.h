// What the simulated camera's moving scene, sent exactly, must look like after the driver's
// conversion with the default settings: the reference conversion of the frame it sent.
#pragma once

#include <cstdint>
#include <vector>

namespace bayercam::app::testing {

// The camera frame number whose reference conversion equals the picture (BGRA, rows packed,
// top row first, the full sensor), searched around the driver's picture number; -1 if none.
std::int64_t matchingMovingFrame(const std::vector<std::uint8_t>& uprightBgra,
                                 std::int64_t pictureNumber);

// RGB (3 bytes a pixel, as a PNG decodes) widened to BGRA with alpha 255.
std::vector<std::uint8_t> rgbToBgra(const std::vector<std::uint8_t>& rgb);

}  // namespace bayercam::app::testing
