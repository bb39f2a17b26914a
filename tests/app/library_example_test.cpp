// The smallest program that uses libbayercam, as the README shows it: open the simulated
// camera, change a setting, take one frame.
#include <gtest/gtest.h>

#include <iostream>

#include "app/lib/camera.h"
#include "tests/app/scratch_dir.h"

namespace {

int takeOnePicture(const std::filesystem::path& registry) {
    auto camera = bayercam::Camera::open(bayercam::CameraOptions{}, registry);
    if (!camera) {
        std::cerr << camera.error().message << "\n";
        return 1;
    }
    if (auto gain = camera.value()->set("RedGain", 160); !gain) {
        std::cerr << gain.error().message << "\n";
        return 1;
    }
    camera.value()->start();
    auto frame = camera.value()->nextFrame(std::chrono::seconds(5));
    if (!frame) {
        std::cerr << frame.error().message << "\n";
        return 1;
    }
    std::cout << "picture " << frame.value().pictureNumber << ": " << frame.value().width << "x"
              << frame.value().height << "\n";
    return 0;
}

TEST(LibraryExample, TakesOnePicture) {
    const bayercam::app::testing::ScratchDir dir;
    EXPECT_EQ(takeOnePicture(dir / "registry.db"), 0);
}

}  // namespace
