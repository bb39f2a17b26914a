// What the camera looks at: an RGB picture of the sensor's size, rendered per frame.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace bayercam::sim {

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // rows packed, 3 bytes a pixel: red, green, blue

    std::uint8_t* pixel(int x, int y) { return &rgb[(std::size_t(y) * width + x) * 3]; }
    const std::uint8_t* pixel(int x, int y) const { return &rgb[(std::size_t(y) * width + x) * 3]; }
};

class Scene {
  public:
    virtual ~Scene() = default;
    // Renders frame `frameNumber` into `out`, already sized to the sensor.
    virtual void render(std::uint64_t frameNumber, RgbImage& out) const = 0;
    // False when every frame shows the same picture, so one rendering serves them all.
    virtual bool changesWithFrame() const { return true; }
};

// Eight vertical bars: white, yellow, cyan, green, magenta, red, blue, black.
std::shared_ptr<const Scene> makeColorBars();

// A pattern that moves with the frame number and carries that number in its top rows, readable
// with decodeFrameNumber from a raw frame.
std::shared_ptr<const Scene> makeMovingPattern();
std::optional<std::uint32_t> decodeFrameNumber(std::span<const std::uint8_t> raw,
                                               std::size_t stride);

enum class PngFit {
    Crop,    // the image's top-left corner at the sensor's; the rest cut off or black
    Resize,  // stretched to the sensor (nearest sample)
    Cover,   // cropped when it covers the sensor; else scaled up keeping its shape, then cropped
};

// Loads any PNG as an 8-bit RGB picture: samples as stored, 16-bit ones scaled to 8 bits, alpha
// dropped. Throws std::runtime_error when it cannot be read.
RgbImage loadPng(const std::filesystem::path& path);
std::shared_ptr<const Scene> makePngScene(const std::filesystem::path& path, PngFit fit);

}  // namespace bayercam::sim
