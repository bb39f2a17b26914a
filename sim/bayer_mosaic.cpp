#include "sim/bayer_mosaic.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "sim/sensor_noise.h"

namespace bayercam::sim {

namespace {

// The sensor's reading of sample s with noise d (0, 1, 2 for -1, 0, +1) at a given scale.
using LevelTable = std::array<std::array<std::uint8_t, 256>, 3>;

LevelTable levelTable(double scale) {
    LevelTable table{};
    for (int d = 0; d < 3; ++d) {
        for (int s = 0; s < 256; ++s) {
            double level = s * scale + d - 1;
            table[d][s] = static_cast<std::uint8_t>(std::clamp(std::lround(level), 0l, 255l));
        }
    }
    return table;
}

}  // namespace

void sampleSites(const RgbImage& scene, std::span<std::uint8_t> raw) {
    for (int y = 0; y < scene.height; ++y) {
        std::uint8_t* row = raw.data() + std::size_t(y) * scene.width;
        const std::uint8_t* from = scene.pixel(0, y);
        // Even x reads channel bayerChannel(0, y), odd x bayerChannel(1, y).
        const int even = bayerChannel(0, y);
        const int odd = bayerChannel(1, y);
        int x = 0;
        for (; x + 1 < scene.width; x += 2) {
            row[x] = from[3 * x + even];
            row[x + 1] = from[3 * x + 3 + odd];
        }
        if (x < scene.width) row[x] = from[3 * x + even];
    }
}

void applySensorLevels(std::span<const std::uint8_t> samples, std::span<std::uint8_t> raw,
                       const MosaicSettings& settings) {
    if (settings.exact) {
        if (raw.data() != samples.data()) std::memcpy(raw.data(), samples.data(), samples.size());
        return;
    }
    const LevelTable table = levelTable(settings.scale);
    // Sample i takes the generator's (i + 1)th state. The samples are cut into kLanes
    // stretches, each started at its own state, and the stretches are stepped side by side: the
    // same states as one long chain, with the lanes' steps overlapping in the processor.
    constexpr std::size_t kLanes = 8;
    const std::size_t count = samples.size();
    const std::size_t stretch = (count + kLanes - 1) / kLanes;
    std::array<std::uint64_t, kLanes> noise{};
    noise[0] = settings.noiseSeed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t lane = 1; lane < kLanes; ++lane) {
        noise[lane] = noiseAdvance(noise[lane - 1], stretch);
    }
    for (std::size_t k = 0; k < stretch; ++k) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            const std::size_t i = lane * stretch + k;
            if (i >= count) continue;
            noise[lane] = noiseStep(noise[lane]);
            raw[i] = table[noise[lane] % 3][samples[i]];
        }
    }
}

void mosaic(const RgbImage& scene, std::span<std::uint8_t> raw, const MosaicSettings& settings) {
    sampleSites(scene, raw);
    applySensorLevels(raw.first(std::size_t(scene.width) * scene.height),
                      raw.first(std::size_t(scene.width) * scene.height), settings);
}

double pictureScale(unsigned exposure, unsigned gain) {
    return (1.0 + gain / 128.0) * ((std::max(exposure, 3u) + 97.0) / 100.0);
}

}  // namespace bayercam::sim
