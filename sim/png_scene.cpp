// A still scene from any PNG file, read with libpng and fitted to the sensor.
#include <png.h>

#include <stdexcept>
#include <string>

#include "sim/camera_protocol.h"
#include "sim/scene.h"

namespace bayercam::sim {
namespace {

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

RgbImage loadPng(const std::filesystem::path& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        throw std::runtime_error("cannot read PNG " + path.string() + ": " + image.message);
    }
    image.format = PNG_FORMAT_RGB;
    RgbImage out{static_cast<int>(image.width), static_cast<int>(image.height), {}};
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) {
        std::string message = image.message;
        png_image_free(&image);
        throw std::runtime_error("cannot decode PNG " + path.string() + ": " + message);
    }
    return out;
}

std::shared_ptr<const Scene> makePngScene(const std::filesystem::path& path, PngFit fit) {
    return std::make_shared<PngScene>(loadPng(path), fit);
}

}  // namespace bayercam::sim
