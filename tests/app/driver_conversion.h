// The driver's conversion called directly, as the reference the tool's files are checked
// against.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace bayercam::app::testing {

// One conversion's settings, spelled out independently of the tool's settings table.
struct DriverSettings {
    std::int32_t bayerPhase = 1;
    std::int32_t colorEnable = 1;
    std::int32_t whiteBalance = 0;
    std::int32_t redGain = 128;
    std::int32_t greenGain = 128;
    std::int32_t blueGain = 128;
    std::int32_t colorCorrection = 1;
    std::int32_t brightness = 255;
    std::int32_t contrast = 10;
    std::int32_t saturation = 10;
    std::int32_t hue = 0;
};

struct DriverFrame {
    std::vector<std::uint8_t> bgra;  // as ConvertFrame leaves it in the output frame
    std::uint32_t redGain = 0;       // the kernel gains the frame was converted with
    std::uint32_t greenGain = 0;
    std::uint32_t blueGain = 0;
};

// Needs the host kernel's pool; the pipeline is freed before returning.
DriverFrame convertWithDriver(std::span<const std::uint8_t> raw, int width, int height,
                              const DriverSettings& settings);

}  // namespace bayercam::app::testing
