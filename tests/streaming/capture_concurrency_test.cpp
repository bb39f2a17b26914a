// The capture under threads: state cycles while a consumer queues frames, pauses that race a
// processing pass in the middle of a conversion, and settings and flips changed on other
// threads while frames flow. Run under the thread sanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "control/image_settings.h"
#include "control/region_of_interest.h"
#include "tests/streaming/capture_fixture.h"

namespace bayercam::testing {
namespace {

using CaptureConcurrencyTest = CaptureTest;

constexpr ULONG kFullFrame = 1360 * 1024 * 4;

// Queues frames and takes them back until stopped; counts those that carried a picture.
class Consumer {
  public:
    Consumer(host::ks::KsClient& client, host::ks::KsPinHandle pin)
        : thread_([this, &client, pin] {
              while (!stop_) {
                  if (client.queueFrame(pin, kFullFrame) != STATUS_SUCCESS) continue;
                  StreamFrame frame;
                  if (client.waitFrame(pin, std::chrono::milliseconds(200), &frame) ==
                          STATUS_SUCCESS &&
                      frame.header.DataUsed != 0) {
                      ++pictures_;
                  }
              }
          }) {}
    ~Consumer() {
        stop_ = true;
        thread_.join();
    }
    int pictures() const { return pictures_; }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<int> pictures_{0};
    std::thread thread_;
};

TEST_F(CaptureConcurrencyTest, RepeatedStateCyclesWithAConsumerQueueingFrames) {
    open();
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    {
        Consumer consumer(*client, pin);
        for (int cycle = 0; cycle < 8; ++cycle) {
            ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS) << "cycle " << cycle;
            ASSERT_EQ(setState(KSSTATE_PAUSE), STATUS_SUCCESS);
            ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
            ASSERT_EQ(setState(KSSTATE_ACQUIRE), STATUS_SUCCESS);
            ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
            ASSERT_EQ(setState(KSSTATE_STOP), STATUS_SUCCESS);
        }
        EXPECT_EQ(device()->captureBusy, 0);
        ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
        for (int i = 0; i < 300 && consumer.pictures() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_GT(consumer.pictures(), 0) << "frames flow after the cycles";
        ASSERT_EQ(setState(KSSTATE_STOP), STATUS_SUCCESS);
    }
    EXPECT_EQ(grabber()->thread, nullptr);
    EXPECT_EQ(grabber()->rawBuffer0, nullptr);
}

// The pause step reaches the driver while a pass may be converting: the stop must wait for it
// before the run's buffers could go, and every pass must find them intact.
TEST_F(CaptureConcurrencyTest, PausesRaceProcessingPasses) {
    open();
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    Consumer consumer(*client, pin);
    for (int cycle = 0; cycle < 25; ++cycle) {
        ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
        std::this_thread::sleep_for(std::chrono::milliseconds(cycle % 5 * 4));
        ASSERT_EQ(setState(KSSTATE_PAUSE), STATUS_SUCCESS);
        EXPECT_EQ(InterlockedCompareExchange(&grabber()->delivering, 0, 0), 0)
            << "no pass is converting after the stop returned";
        EXPECT_EQ(grabber()->thread, nullptr);
    }
    ASSERT_EQ(setState(KSSTATE_ACQUIRE), STATUS_SUCCESS);
    EXPECT_EQ(grabber()->rgbFrame, nullptr);
}

TEST_F(CaptureConcurrencyTest, SettingsAndFlipsChangeOnOtherThreadsWhileFramesFlow) {
    open();
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    std::atomic<bool> stop{false};
    CameraDevice* camera = device();
    std::thread flips([&] {
        for (LONG i = 0; !stop; ++i) {
            SetFlipH(camera, i & 1);
            SetFlipV(camera, (i >> 1) & 1);
        }
    });
    std::thread settings([&] {
        for (LONG i = 0; !stop; ++i) {
            SettingsLockGuard guard(camera);
            SetImageSetting(camera, HUE_SETTING, i % 360);
            SetImageSetting(camera, COLOR_ENABLE_SETTING, (i >> 3) & 1);
            SetWhiteBalance(camera, (i >> 2) & 1);
            GetImageSetting(camera, RED_GAIN_SETTING);
        }
    });
    int pictures = 0;
    for (int i = 0; i < 8; ++i) {
        StreamFrame frame;
        ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
        pictures += frame.header.DataUsed == kFullFrame ? 1 : 0;
    }
    stop = true;
    flips.join();
    settings.join();
    EXPECT_EQ(pictures, 8);
}

}  // namespace
}  // namespace bayercam::testing
