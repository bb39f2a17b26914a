#include "tests/app/png_reader.h"

#include <png.h>

#include <cstring>

namespace bayercam::app::testing {

DecodedPng readPng(const std::filesystem::path& path) {
    DecodedPng decoded;
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        decoded.error = image.message;
        return decoded;
    }
    decoded.width = image.width;
    decoded.height = image.height;
    decoded.rgb8 = image.format == PNG_FORMAT_RGB;
    image.format = PNG_FORMAT_RGB;
    decoded.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, decoded.rgb.data(), 0, nullptr)) {
        decoded.error = image.message;
        decoded.rgb.clear();
    }
    return decoded;
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
