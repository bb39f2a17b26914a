// A still scene from any PNG file, read with libpng and fitted to the sensor.
#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/camera_protocol.h"
#include "sim/scene.h"

namespace bayercam::sim {
namespace {

bool coversSensor(const RgbImage& image) {
    return image.width >= kSensorWidth && image.height >= kSensorHeight;
}

class PngScene final : public Scene {
  public:
    PngScene(const RgbImage& image, PngFit fit) : fitted_{kSensorWidth, kSensorHeight, {}} {
        fitted_.rgb.assign(kFrameBytes * 3, 0);
        for (int y = 0; y < kSensorHeight; ++y) {
            for (int x = 0; x < kSensorWidth; ++x) {
                int sx = x;
                int sy = y;
                if (fit == PngFit::Resize) {
                    sx = static_cast<int>(std::int64_t{x} * image.width / kSensorWidth);
                    sy = static_cast<int>(std::int64_t{y} * image.height / kSensorHeight);
                } else if (fit == PngFit::Cover && !coversSensor(image)) {
                    // Scaled up by the sensor's side over the image's along the side that
                    // needs more, so that both sides cover the sensor.
                    const bool byWidth = std::int64_t{kSensorWidth} * image.height >=
                                         std::int64_t{kSensorHeight} * image.width;
                    const int from = byWidth ? image.width : image.height;
                    const int to = byWidth ? kSensorWidth : kSensorHeight;
                    sx = static_cast<int>(std::int64_t{x} * from / to);
                    sy = static_cast<int>(std::int64_t{y} * from / to);
                } else if (x >= image.width || y >= image.height) {
                    continue;
                }
                const std::uint8_t* from = image.pixel(sx, sy);
                std::uint8_t* to = fitted_.pixel(x, y);
                to[0] = from[0];
                to[1] = from[1];
                to[2] = from[2];
            }
        }
    }

    void render(std::uint64_t, RgbImage& out) const override { out.rgb = fitted_.rgb; }
    bool changesWithFrame() const override { return false; }

  private:
    RgbImage fitted_;
};

}  // namespace

namespace {

struct PngReadFailure {
    std::jmp_buf jump;
    char message[256];
};

[[noreturn]] void onReadError(png_structp png, png_const_charp message) {
    auto* failure = static_cast<PngReadFailure*>(png_get_error_ptr(png));
    std::strncpy(failure->message, message, sizeof(failure->message) - 1);
    std::longjmp(failure->jump, 1);
}

void onReadWarning(png_structp, png_const_charp) {}

// Holds only plain locals and out between setjmp and any longjmp, so the jump skips no
// destructor. Samples are taken as stored: 16-bit ones scaled to 8 bits, the file's gamma not
// applied, alpha dropped.
bool decodePng(std::FILE* file, RgbImage& out, PngReadFailure& failure) {
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure, onReadError, onReadWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(failure.jump) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    out.width = static_cast<int>(png_get_image_width(png, info));
    out.height = static_cast<int>(png_get_image_height(png, info));
    out.rgb.resize(std::size_t(out.width) * std::size_t(out.height) * 3);
    std::vector<png_bytep> rows(static_cast<std::size_t>(out.height));
    for (int y = 0; y < out.height; ++y) rows[std::size_t(y)] = out.pixel(0, y);
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

RgbImage loadPng(const std::filesystem::path& path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               std::fclose);
    if (!file) {
        throw std::runtime_error("cannot read PNG " + path.string() + ": " +
                                 std::strerror(errno));
    }
    RgbImage out;
    PngReadFailure failure{};
    std::strcpy(failure.message, "out of memory");
    if (!decodePng(file.get(), out, failure)) {
        throw std::runtime_error("cannot read PNG " + path.string() + ": " + failure.message);
    }
    return out;
}

std::shared_ptr<const Scene> makePngScene(const std::filesystem::path& path, PngFit fit) {
    return std::make_shared<PngScene>(loadPng(path), fit);
}

}  // namespace bayercam::sim
