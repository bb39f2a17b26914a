// Decodes a PNG file for checks, with libpng.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bayercam::app::testing {

struct DecodedPng {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool rgb8 = false;              // the file itself is 8-bit RGB without alpha
    std::vector<std::uint8_t> rgb;  // width x height x 3, top row first
    std::string error;              // libpng's message when decoding failed
};

DecodedPng readPng(const std::filesystem::path& path);

// RGB (3 bytes a pixel, as a PNG decodes) widened to BGRA with alpha 255.
std::vector<std::uint8_t> rgbToBgra(const std::vector<std::uint8_t>& rgb);

}  // namespace bayercam::app::testing
