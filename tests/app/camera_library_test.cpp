// libbayercam in-process: the --camera grammar, properties by name with their ranges and the
// errors a person sees, the region, and frames checked against the reference conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "app/lib/camera.h"
#include "tests/app/camera_reference.h"
#include "tests/app/scratch_dir.h"

namespace bayercam::app::testing {
namespace {

// ---------------------------------------------------------------- the camera option

// The options written back name every item read, so a round trip shows each one parsed.
TEST(CameraOptionsText, ReadsEveryItem) {
    const std::pair<const char*, const char*> cases[] = {
        {"sim:scene=moving,exact,fps=12.5,clock=3", "sim:scene=moving,exact,fps=12.5,clock=3"},
        {"sim:scene=room.png,fps=max", "sim:scene=room.png,fps=max,clock=1"},
    };
    for (const auto& [text, written] : cases) {
        const Result<CameraOptions> options = parseCameraOptions(text);
        ASSERT_TRUE(options) << options.error().message;
        EXPECT_EQ(options.value().text(), written);
    }
}

TEST(CameraOptionsText, MistakesAreBadValuesThatSayWhy) {
    const std::pair<const char*, const char*> cases[] = {
        {"usb:12", "give both ids"},
        {"usb:12345:0001", "four hex digits"},
        {"usb:ffff:0001:1:300", "bus and address"},
        {"cam", "a camera is 'sim' or 'usb'"},
        {"sim:", "options follow"},
        {"sim:scene=stripes", "unknown item 'scene=stripes'"},
        {"sim:fps=ten", "fps must be"},
        {"sim:clock=300", "clock must be 0 to 255"},
    };
    for (const auto& [text, fragment] : cases) {
        const Result<CameraOptions> options = parseCameraOptions(text);
        ASSERT_FALSE(options) << text;
        EXPECT_EQ(options.error().kind, Error::Kind::kBadValue) << text;
        EXPECT_NE(options.error().message.find(fragment), std::string::npos)
            << "for " << text << " expected: " << fragment << "\ngot: " << options.error().message;
    }
}

// ---------------------------------------------------------------- an open camera

class OpenCamera : public ::testing::Test {
  protected:
    void SetUp() override {
        CameraOptions options;
        options.scene = CameraOptions::Scene::kMoving;
        options.exact = true;
        Result<std::unique_ptr<Camera>> opened = Camera::open(options, dir_ / "registry.db");
        ASSERT_TRUE(opened) << opened.error().message;
        camera_ = std::move(opened).value();
    }

    ScratchDir dir_;
    std::unique_ptr<Camera> camera_;
};

TEST_F(OpenCamera, NamesAreCaseInsensitiveAndIdsWork) {
    ASSERT_TRUE(camera_->set("brightness", 300));
    EXPECT_EQ(camera_->get("BRIGHTNESS").value(), 300);
    EXPECT_EQ(camera_->get("20").value(), 300);
    EXPECT_EQ(camera_->property("hue").value().id, 32u);
}

TEST_F(OpenCamera, MistakesAreRefusedWithTheReasonAndNothingChanges) {
    const std::pair<const char*, const char*> cases[] = {
        {"Contrast", "21 is out of range for Contrast: 0 to 20"},
        {"exposur", "did you mean Exposure"},
        {"SensorWidth", "SensorWidth"},
        {"Roi", "bayercam roi"},
    };
    for (const auto& [name, fragment] : cases) {
        const Result<std::int32_t> result = camera_->set(name, 21);
        ASSERT_FALSE(result) << name;
        EXPECT_NE(result.error().message.find(fragment), std::string::npos)
            << result.error().message;
    }
    EXPECT_EQ(camera_->get("Contrast").value(), 10);
}

// The driver moves an odd origin to the next even one; the picture is the region's width
// rounded down to a multiple of 8. The region read back is the one the driver took.
TEST_F(OpenCamera, RegionSetChangesTheNegotiatedFormat) {
    ASSERT_TRUE(camera_->setRoi({7, 3, 644, 480}));
    const Result<Region> region = camera_->roi();
    ASSERT_TRUE(region) << region.error().message;
    EXPECT_EQ(region.value().x, 8);
    EXPECT_EQ(region.value().y, 4);
    EXPECT_EQ(region.value().width, 644);
    const Result<VideoFormat> format = camera_->negotiateFormat();
    ASSERT_TRUE(format);
    EXPECT_EQ(format.value().frameBytes, 640u * 480 * 4);
    EXPECT_FALSE(camera_->setRoi({1000, 0, 640, 480})) << "beyond the sensor's right edge";
}

// Frames are the reference conversion of what the camera sent, also in memory that went back
// to the library (scribbled over first).
TEST_F(OpenCamera, FramesAreWholeReferencePicturesAlsoInRecycledMemory) {
    ASSERT_TRUE(camera_->start());
    constexpr int kFrames = 8;
    for (int i = 0; i < kFrames; ++i) {
        Result<Frame> frame = camera_->nextFrame(std::chrono::milliseconds(5000));
        ASSERT_TRUE(frame) << frame.error().message;
        EXPECT_GE(matchingMovingFrame(frame.value().upright(), frame.value().pictureNumber), 0)
            << "frame " << i << " with picture number " << frame.value().pictureNumber;
        std::fill(frame.value().pixels.begin(), frame.value().pixels.end(), std::uint8_t{0x5A});
        camera_->recycle(std::move(frame).value());
    }
    EXPECT_GE(camera_->cameraFrameCounts().sent, std::uint64_t{kFrames})
        << "the camera counts every frame it sent";
    EXPECT_FALSE(camera_->setRoi({0, 0, 640, 480})) << "the region is locked while streaming";
    ASSERT_TRUE(camera_->stop());
    EXPECT_FALSE(camera_->nextFrame(std::chrono::milliseconds(10)));
}

// The one exception to one thread at a time: settings read and set while another thread
// streams, each value read back as set and every frame delivered.
TEST_F(OpenCamera, PropertiesMayBeSetWhileAnotherThreadStreams) {
    ASSERT_TRUE(camera_->start());
    std::atomic<bool> done{false};
    std::string streamFailure;
    std::thread streaming([&] {
        for (int i = 0; i < 10 && streamFailure.empty(); ++i) {
            Result<Frame> frame = camera_->nextFrame(std::chrono::milliseconds(5000));
            if (frame) camera_->recycle(std::move(frame).value());
            if (!frame) streamFailure = frame.error().message;
        }
        done = true;
    });
    int changes = 0;
    for (std::int32_t value = 0; !done; value = (value + 7) % 511, ++changes) {
        const Result<std::int32_t> set = camera_->set("Brightness", value);
        EXPECT_TRUE(set && set.value() == value) << "Brightness set to " << value;
        EXPECT_EQ(camera_->get("Brightness").value(), value);
        EXPECT_EQ(camera_->range("Contrast").value().maximum, 20);
    }
    streaming.join();
    EXPECT_EQ(streamFailure, "");
    EXPECT_GT(changes, 0);
}

// The driver drops a converted frame when no client buffer is queued: enough of them carry a
// client that looks away for a while, from the very first frame. The camera is slow enough for
// a conversion under the sanitizers to keep up.
TEST_F(OpenCamera, FramesTakenLateAreAllStillThere) {
    camera_.reset();
    CameraOptions options;
    // Slow enough that a sanitizer build on a busy machine still reads every frame in time.
    options.framesPerSecond = 2.0;
    camera_ = Camera::open(options, dir_ / "registry.db").value();
    ASSERT_TRUE(camera_->start());
    std::this_thread::sleep_for(std::chrono::milliseconds(5000));  // ten frames
    for (std::int64_t picture = 1; picture <= 8; ++picture) {
        const Result<Frame> frame = camera_->nextFrame(std::chrono::milliseconds(5000));
        ASSERT_TRUE(frame) << frame.error().message;
        EXPECT_EQ(frame.value().pictureNumber, picture);
    }
}

TEST_F(OpenCamera, PausedCameraGivesNoFramesAndResumes) {
    ASSERT_TRUE(camera_->start());
    ASSERT_TRUE(camera_->nextFrame(std::chrono::milliseconds(5000)));
    ASSERT_TRUE(camera_->pause());
    EXPECT_FALSE(camera_->nextFrame(std::chrono::milliseconds(10)));
    ASSERT_TRUE(camera_->start());
    EXPECT_TRUE(camera_->nextFrame(std::chrono::milliseconds(5000)));
}

}  // namespace
}  // namespace bayercam::app::testing
