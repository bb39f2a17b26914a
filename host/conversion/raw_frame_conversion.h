// The driver's own frame conversion, run in user mode on the kernel stand-in's pool and
// verifier: a ColorPipeline set up as a capture acquisition sets it up, then one ConvertFrame,
// as for one live frame. For tools that convert raw Bayer files exactly as the driver would.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace bayercam::host {

// The settings that act on the conversion, as the driver stores them. They start at the values
// a freshly started camera converts with.
struct ConversionSettings {
    std::int32_t colorEnable = 1;   // 0: grey picture
    std::int32_t whiteBalance = 0;  // 1: measure the gains on the frame itself
    std::int32_t redGain = 128;     // units of 1/128
    std::int32_t greenGain = 128;
    std::int32_t blueGain = 128;
    std::int32_t colorCorrection = 1;
    std::int32_t brightness = 255;  // 255 neutral
    std::int32_t contrast = 10;     // 10 neutral
    std::int32_t saturation = 10;   // 10 neutral
    std::int32_t hue = 0;           // degrees

    bool operator==(const ConversionSettings&) const = default;
};

struct ConvertedPicture {
    // width x height pixels of blue, green, red, 255; rows packed, image row 0 first.
    std::vector<std::uint8_t> bgra;
    // The gains the frame was converted with: the set ones, or those the white-balance
    // measurement found on this frame.
    std::int32_t redGain = 0;
    std::int32_t greenGain = 0;
    std::int32_t blueGain = 0;
};

// raw holds width x height samples, row-major; bayerPhase names the colours of the 2 x 2 cell at
// sample (0, 0) (0 GRBG, 1 BGGR, 2 RGGB, 3 GBRG). Nothing when the pool has no room for the
// conversion's buffers. Throws std::logic_error when the verifier saw the conversion misuse the
// platform: such a picture cannot be trusted.
std::optional<ConvertedPicture> convertRawFrame(std::span<const std::uint8_t> raw,
                                                std::int32_t width, std::int32_t height,
                                                std::int32_t bayerPhase,
                                                const ConversionSettings& settings);

}  // namespace bayercam::host
