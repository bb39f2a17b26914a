#include "sim/bayer_mosaic.h"

#include <algorithm>
#include <cmath>

namespace bayercam::sim {

void mosaic(const RgbImage& scene, std::span<std::uint8_t> raw, const MosaicSettings& settings) {
    std::uint64_t noise = settings.noiseSeed * 0x9E3779B97F4A7C15ull + 1;
    for (int y = 0; y < scene.height; ++y) {
        std::uint8_t* row = raw.data() + std::size_t(y) * scene.width;
        for (int x = 0; x < scene.width; ++x) {
            std::uint8_t sample = scene.pixel(x, y)[bayerChannel(x, y)];
            if (settings.exact) {
                row[x] = sample;
                continue;
            }
            // A cheap generator for a little sensor noise of -1..+1.
            noise ^= noise << 13;
            noise ^= noise >> 7;
            noise ^= noise << 17;
            double level = sample * settings.scale + static_cast<int>(noise % 3) - 1;
            row[x] = static_cast<std::uint8_t>(std::clamp(std::lround(level), 0l, 255l));
        }
    }
}

double pictureScale(unsigned exposure, unsigned gain) {
    return (1.0 + gain / 128.0) * ((std::max(exposure, 3u) + 97.0) / 100.0);
}

}  // namespace bayercam::sim
