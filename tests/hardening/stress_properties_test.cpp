// Every writable property changed on several threads while frames stream, and filters opened
// and closed beside the streaming one; afterwards the device delivers pictures again.
#include <gtest/gtest.h>

#include "driver/control/camera_properties.h"
#include "driver/usb/frame_transfer.h"
#include "tests/driver/control/property_client.h"
#include "tests/hardening/stress_activities.h"

namespace bayercam::testing {
namespace {

using StressPropertiesTest = StressTest;

constexpr auto kPictureDeadline = std::chrono::seconds(60);

TEST_F(StressPropertiesTest, EveryWritablePropertyChangesOnFourThreadsWhileFramesStream) {
    const std::uint64_t seed = StressSeed(0x51A7E);
    SCOPED_TRACE("seed " + std::to_string(seed) + " (BAYERCAM_STRESS_SEED repeats it)");
    startStreaming();
    ActivityLog log;
    CheckingConsumer consumer(*client, pin, imageBytes(), frameDuration(), 0);
    {
        ActivityThreads threads;
        AddPropertyChurn(threads, *client, filter, seed, 4, log);
        EXPECT_TRUE(consumer.awaitPictures(12, kPictureDeadline)) << "pictures keep coming";
        EXPECT_TRUE(Eventually([&] { return log.requests >= 3000; }, kPictureDeadline));
    }
    EXPECT_EQ(log.problems(), std::vector<std::string>{});
    // Whatever the churn left set, frames flow again once trigger mode is off.
    InterlockedExchange(&transferTimeoutMs, 2000);
    ASSERT_EQ(SetCameraProperty(*client, filter, ULONG(CameraProperty::ExTrigger), 0),
              STATUS_SUCCESS);
    EXPECT_TRUE(consumer.awaitPictures(consumer.pictures() + 2, kPictureDeadline))
        << "pictures come after the churn";
    consumer.stop();
    EXPECT_EQ(consumer.problems(), std::vector<std::string>{});
    ASSERT_EQ(setState(KSSTATE_STOP), STATUS_SUCCESS);
}

// Second filters come and go, each with a pin of its own that must find the camera busy; the
// streaming pin keeps its region locked and its pictures whole.
TEST_F(StressPropertiesTest, FiltersOpenAndCloseBesideTheStreamingOne) {
    const std::uint64_t seed = StressSeed(0xF117E5);
    SCOPED_TRACE("seed " + std::to_string(seed) + " (BAYERCAM_STRESS_SEED repeats it)");
    startStreaming();
    ActivityLog log;
    {
        CheckingConsumer consumer(*client, pin, imageBytes(), frameDuration(), 2);
        ActivityThreads threads;
        AddFilterChurn(threads, *client, handle, offeredRange(), seed, 3, log);
        EXPECT_TRUE(consumer.awaitPictures(6, kPictureDeadline)) << "pictures keep coming";
        EXPECT_TRUE(Eventually([&] { return log.requests >= 120; }, kPictureDeadline));
        threads.stop();
        consumer.stop();
        EXPECT_EQ(consumer.problems(), std::vector<std::string>{});
        for (const StreamFrame& frame : consumer.keptPictures()) expectWholePicture(frame);
    }
    EXPECT_EQ(log.problems(), std::vector<std::string>{});
    EXPECT_GT(log.secondPins, 0u) << "second pins were created";
    EXPECT_EQ(device()->roiW, SENSOR_WIDTH) << "the streaming pin's region stayed";
    ASSERT_EQ(setState(KSSTATE_STOP), STATUS_SUCCESS);
    expectCaptureWorks(seed);
}

}  // namespace
}  // namespace bayercam::testing
