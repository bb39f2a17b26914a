#include "sim/scene.h"

#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>

#include "sim/bayer_mosaic.h"
#include "sim/camera_protocol.h"
#include "tests/app/scratch_dir.h"

namespace bayercam::sim {
namespace {

RgbImage sensorImage() {
    return RgbImage{kSensorWidth, kSensorHeight, std::vector<std::uint8_t>(kFrameBytes * 3)};
}

std::vector<std::uint8_t> rawOf(const Scene& scene, std::uint64_t n, MosaicSettings settings) {
    RgbImage image = sensorImage();
    scene.render(n, image);
    std::vector<std::uint8_t> raw(kFrameBytes);
    mosaic(image, raw, settings);
    return raw;
}

// Writes a tiny RGB PNG with libpng; pixel (x, y) = (10x + y, 100 + x, 200 - y), in 8 bits or
// the same values in 16.
std::filesystem::path writeTinyPng(int width, int height, bool sixteenBits = false) {
    std::vector<std::uint16_t> rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            rgb.insert(rgb.end(),
                       {std::uint16_t(10 * x + y), std::uint16_t(100 + x), std::uint16_t(200 - y)});
        }
    }
    static const app::testing::ScratchDir scratch;
    auto path = scratch / ("tiny_" + std::to_string(width) + "x" + std::to_string(height) +
                           (sixteenBits ? "_16" : "") + ".png");
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = sixteenBits ? PNG_FORMAT_LINEAR_RGB : PNG_FORMAT_RGB;
    std::vector<std::uint8_t> eight(rgb.begin(), rgb.end());
    for (std::uint16_t& sample : rgb) sample = std::uint16_t(sample * 257);
    const void* samples = sixteenBits ? static_cast<const void*>(rgb.data()) : eight.data();
    EXPECT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, samples, 0, nullptr));
    return path;
}

TEST(MovingPattern, FrameNumberSurvivesTheMosaicExactOrNotAndGarbageDoesNotDecode) {
    auto scene = makeMovingPattern();
    for (std::uint32_t n : {0u, 1u, 77u, 0xDEADBEEFu}) {
        auto exact = rawOf(*scene, n, {1.0, true, 0});
        EXPECT_EQ(decodeFrameNumber(exact, kSensorWidth), n);
        auto noisy = rawOf(*scene, n, {0.8, false, n});
        EXPECT_EQ(decodeFrameNumber(noisy, kSensorWidth), n);
    }
    EXPECT_EQ(decodeFrameNumber(std::vector<std::uint8_t>(kFrameBytes, 200), kSensorWidth),
              std::nullopt);
}

TEST(PngScene, TinyImageCroppedAtTheOriginIsMosaicedPixelByPixelIn8Or16Bits) {
    auto path = writeTinyPng(5, 3);
    auto raw = rawOf(*makePngScene(path, PngFit::Crop), 0, {1.0, true, 0});
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            std::uint8_t rgb[3] = {std::uint8_t(10 * x + y), std::uint8_t(100 + x),
                                   std::uint8_t(200 - y)};
            std::uint8_t expected = (x < 5 && y < 3) ? rgb[bayerChannel(x, y)] : 0;
            EXPECT_EQ(raw[y * kSensorWidth + x], expected) << "at (" << x << ", " << y << ")";
        }
    }
    EXPECT_EQ(loadPng(writeTinyPng(5, 3, true)).rgb, loadPng(path).rgb)
        << "16-bit samples scaled to 8, any gamma";
}

// A 2 x 2 image stretched over the sensor, or covering it with its shape kept: each source pixel
// is 680 sensor pixels wide, and 512 tall when stretched (cover crops the lower ones' bottom rows).
TEST(PngScene, TinyImageFillsTheSensorByItsFit) {
    struct Sample {
        int x, y, value;
        const char* what;
    };
    const struct {
        PngFit fit;
        std::vector<Sample> samples;
    } cases[] = {
        {PngFit::Resize,
         {{1359, 1023, 11, "red of (1, 1)"},
          {680, 512, 199, "blue of (1, 1)"},
          {0, 0, 200, "blue of (0, 0)"},
          {1, 1, 0, "red of (0, 0)"}}},
        {PngFit::Cover,
         {{600, 600, 200, "blue of (0, 0)"},
          {680, 680, 199, "blue of (1, 1)"},
          {1359, 1023, 11, "red of (1, 1)"}}},
    };
    auto path = writeTinyPng(2, 2);
    for (const auto& c : cases) {
        auto raw = rawOf(*makePngScene(path, c.fit), 0, {1.0, true, 0});
        for (const Sample& at : c.samples) {
            EXPECT_EQ(raw[at.y * kSensorWidth + at.x], at.value) << at.what;
        }
    }
}

}  // namespace
}  // namespace bayercam::sim
