// The capture under threads: pauses that race a processing pass in the middle of a conversion,
// and pins created while another filter changes the region. Run under the thread sanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/driver/control/property_client.h"
#include "tests/hardening/stress_support.h"

namespace bayercam::testing {
namespace {

using CaptureConcurrencyTest = StressTest;

// The pause step reaches the driver while a pass may be converting: the stop must wait for it
// before the run's buffers could go, and every pass must find them intact.
TEST_F(CaptureConcurrencyTest, PausesRaceProcessingPasses) {
    open();
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    CheckingConsumer consumer(*client, pin, imageBytes(), frameDuration(), 0);
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
    consumer.stop();
    EXPECT_EQ(consumer.problems(), std::vector<std::string>{});
}

// A region changed through a second filter while pins are created: a pin that is created must
// carry the region it locked, never a format checked against a region half rewritten or
// replaced between the check and the lock.
TEST_F(CaptureConcurrencyTest, PinsCreatedWhileTheRegionChangesCarryTheRegionTheyLocked) {
    open();
    host::ks::KsFilterHandle second = nullptr;
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &second), STATUS_SUCCESS);
    std::atomic<bool> done{false};
    std::thread regions([&] {
        for (int i = 0; !done; ++i) {
            SetCameraRegion(*client, second, 0, 0, i % 2 ? 640 : 1360, i % 2 ? 480 : 1024);
        }
    });
    int created = 0;
    for (int i = 0; i < 300; ++i) {
        VideoFormat format{};
        ULONG returned = 0;
        KS_DATARANGE_VIDEO range{};
        {
            SettingsLockGuard guard(device());
            range = offeredRange();
        }
        if (client->intersect(filter, 0, &range.DataRange, &format, sizeof(format), &returned) !=
                STATUS_SUCCESS ||
            createPin(format) != STATUS_SUCCESS) {
            continue;
        }
        ++created;
        const KS_BITMAPINFOHEADER& made = context()->videoInfo.bmiHeader;
        EXPECT_EQ(made.biWidth, device()->outputWidth) << "pin " << i;
        EXPECT_EQ(made.biHeight, device()->outputHeight) << "pin " << i;
        ASSERT_EQ(client->closePin(pin), STATUS_SUCCESS);
    }
    done = true;
    regions.join();
    EXPECT_GT(created, 0) << "no pin could be created while the region changed";
}

}  // namespace
}  // namespace bayercam::testing
