// Conversions under threads: white balance switched on and off while frames are converted. Every
// picture that comes back must be one camera frame converted with one set of gains.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver/control/camera_properties.h"
#include "driver/pixel/pixel_kernels.h"
#include "driver/streaming/color_pipeline.h"
#include "sim/scene.h"
#include "tests/driver/control/property_client.h"
#include "tests/hardening/stress_support.h"

namespace bayercam::testing {
namespace {

constexpr auto kDeadline = std::chrono::seconds(60);

// The frame-numbered scene's code on a tinted, still background: every frame has the same
// channel sums (the code lights exactly half its cells), so white balance measures the same
// gains on each, and they are far from the defaults.
class TintedNumberedScene final : public sim::Scene {
  public:
    void render(std::uint64_t frameNumber, sim::RgbImage& out) const override {
        numbered_->render(frameNumber, out);
        for (int y = 0; y < out.height; ++y) {
            for (int x = y < 8 ? 512 : 0; x < out.width; ++x) {
                std::uint8_t* p = out.pixel(x, y);
                p[0] = std::uint8_t(170 + x % 64);
                p[1] = std::uint8_t(110 + y % 32);
                p[2] = std::uint8_t(50 + (x + y) % 48);
            }
        }
    }

  private:
    std::shared_ptr<const sim::Scene> numbered_ = sim::makeMovingPattern();
};

struct Gains {
    ULONG red = 128;
    ULONG green = 128;
    ULONG blue = 128;
    bool operator==(const Gains&) const = default;
};

// The gains the reference measurement finds in a raw frame.
Gains MeasuredGains(const std::vector<std::uint8_t>& raw) {
    Gains gains;
    ColorPipeline* pipeline = CreateColorPipeline();
    if (pipeline == nullptr) return gains;
    SetFrameSize(pipeline, SENSOR_WIDTH, SENSOR_HEIGHT);
    AllocateWorkBuffer(pipeline);
    FillWorkBuffer(pipeline, raw.data(), 0, SENSOR_WIDTH);
    GetPixelKernelTable(PixelIsaReference)
        ->measureWhiteBalance[1](pipeline, &gains.red, &gains.green, &gains.blue);
    FreeColorPipeline(pipeline);
    return gains;
}

class WhiteBalanceStressTest : public StressTest {
  protected:
    sim::SimulatedCameraOptions options() const override {
        sim::SimulatedCameraOptions tinted = StressTest::options();
        tinted.scene = std::make_shared<TintedNumberedScene>();
        return tinted;
    }
};

// With white balance switched on and off and the gains set back one by one, a picture is
// converted with the measured gains, the defaults, or one gain of each: never anything else.
TEST_F(WhiteBalanceStressTest, SwitchedDuringConversionEachPictureHasOneSetOfGains) {
    const std::uint64_t seed = StressSeed(0x3B1A);
    SCOPED_TRACE("seed " + std::to_string(seed) + " (BAYERCAM_STRESS_SEED repeats it)");
    const Gains measured = MeasuredGains(camera->renderFrame(0));
    ASSERT_EQ(MeasuredGains(camera->renderFrame(77)), measured) << "the scene's gains stay";
    ASSERT_NE(measured.red, 128u);
    ASSERT_NE(measured.blue, 128u);
    startStreaming();
    ActivityLog log;
    std::vector<StreamFrame> pictures;
    {
        CheckingConsumer consumer(*client, pin, imageBytes(), frameDuration(), 3);
        ActivityThreads threads;
        // While off, the gains are set back to their defaults one by one, as a client would.
        threads.add(seed, [&](chaos::ChaosRng& random, std::uint64_t round) {
            const bool on = round % 2 == 0;
            if (SetCameraProperty(*client, filter, ULONG(CameraProperty::WhiteBalance), on) !=
                STATUS_SUCCESS) {
                log.problem("white balance was not switched");
            }
            for (CameraProperty gain : {CameraProperty::RedGain, CameraProperty::BlueGain}) {
                if (!on) SetCameraProperty(*client, filter, ULONG(gain), 128);
            }
            ++log.requests;
            std::this_thread::sleep_for(std::chrono::microseconds(random.below(20000)));
        });
        EXPECT_TRUE(
            Eventually([&] { return log.requests >= 16 && consumer.pictures() >= 8; }, kDeadline));
        threads.stop();
        consumer.stop();
        EXPECT_EQ(consumer.problems(), std::vector<std::string>{});
        pictures = consumer.keptPictures();
    }
    EXPECT_EQ(log.problems(), std::vector<std::string>{});
    const PictureSettings candidates[] = {
        {1, 1, 128, 128, 128},
        {1, 0, 128, 128, 128},
        {1, 0, LONG(measured.red), 128, 128},
        {1, 0, 128, 128, LONG(measured.blue)},
    };
    ASSERT_FALSE(pictures.empty());
    for (const StreamFrame& picture : pictures) {
        std::optional<std::uint32_t> number = PictureFrameNumber(picture);
        ASSERT_TRUE(number.has_value()) << "the picture carries no frame number";
        const std::vector<std::uint8_t> raw = camera->renderFrame(*number);
        EXPECT_TRUE(std::any_of(std::begin(candidates), std::end(candidates),
                                [&](const PictureSettings& settings) {
                                    return referenceFrame(raw, settings) == picture.data;
                                }))
            << "picture of frame " << *number << " has gains of no setting";
    }
    ASSERT_EQ(setState(KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(client->closePin(pin), STATUS_SUCCESS);
    pin = nullptr;
}

}  // namespace
}  // namespace bayercam::testing
