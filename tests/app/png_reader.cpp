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

}  // namespace bayercam::app::testing
