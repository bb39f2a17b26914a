// Turns an RGB scene into the sensor's raw Bayer samples (phase 1: B G / G R from (0, 0)).
#pragma once

#include <cstdint>
#include <span>

#include "sim/scene.h"

namespace bayercam::sim {

struct MosaicSettings {
    double scale = 1.0;  // exposure and gain together; 1.0 leaves the scene's level
    bool exact = false;  // pass samples through unchanged: no scaling, no noise
    std::uint64_t noiseSeed = 0;
};

// Which colour of (red, green, blue) = (0, 1, 2) the sensor samples at (x, y).
constexpr int bayerChannel(int x, int y) {
    if ((y & 1) == 0) return (x & 1) == 0 ? 2 : 1;
    return (x & 1) == 0 ? 1 : 0;
}

// raw: width x height samples, rows packed.
void mosaic(const RgbImage& scene, std::span<std::uint8_t> raw, const MosaicSettings& settings);

// The two steps of mosaic: the scene's sample at each sensor site, then the sensor's reading of
// those samples (scale and noise; a plain copy when exact). raw may be samples itself.
void sampleSites(const RgbImage& scene, std::span<std::uint8_t> raw);
void applySensorLevels(std::span<const std::uint8_t> samples, std::span<std::uint8_t> raw,
                       const MosaicSettings& settings);

// The picture scale the camera applies for a sensor exposure (3..1070) and global gain (0..1023):
// 1.0 at the driver's defaults (exposure 3, gain 0), each 128 steps of gain adding 1.0, growing
// with exposure.
double pictureScale(unsigned exposure, unsigned gain);

}  // namespace bayercam::sim
