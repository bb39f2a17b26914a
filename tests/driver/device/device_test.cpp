// CameraDevice across Stop and Start: the frame geometry after the sensor start, the pipe table
// rebuilt, the one frame grabber kept.
#include <gtest/gtest.h>

#include <array>

#include "driver/device/pool_tags.h"
#include "tests/support/camera_fixture.h"

namespace bayercam::testing {
namespace {

using DeviceTest = CameraTest;

TEST_F(DeviceTest, FrameGeometryIsZeroUntilTheSensorStarts) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    CameraOps* ops = device();
    for (bool started : {false, true}) {
        if (started) {
            ASSERT_TRUE(ops->StartSensor());
        }
        ULONG size = 99, offset = 99, stride = 99;
        ops->GetFrameSize(&size);
        ops->GetFrameOffset(&offset);
        ops->GetFrameStride(&stride);
        EXPECT_EQ((std::array<ULONG, 3>{size, offset, stride}),
                  (started ? std::array<ULONG, 3>{1392640, 0, 1360} : std::array<ULONG, 3>{}));
    }
}

TEST_F(DeviceTest, StopDeconfiguresAndStartConfiguresAndPreparesAgain) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    ASSERT_EQ(client->stopDevice(handle), STATUS_SUCCESS);
    EXPECT_EQ(camera->configurationValue(), 0);
    forget();
    ASSERT_EQ(client->startDevice(handle), STATUS_SUCCESS);
    EXPECT_EQ(camera->configurationValue(), 1);
    ASSERT_FALSE(commands().empty());
    EXPECT_EQ(commands().front(), MakePacket({0x06}));
}

TEST_F(DeviceTest, RestartsKeepTheOneFrameGrabber) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    const host::pool::TagUsage started = host::pool::usage(POOL_TAG_CAMERA);
    for (int restart = 1; restart <= 3; ++restart) {
        ASSERT_EQ(client->stopDevice(handle), STATUS_SUCCESS);
        ASSERT_EQ(client->startDevice(handle), STATUS_SUCCESS);
        EXPECT_EQ(host::pool::usage(POOL_TAG_CAMERA).blocks, started.blocks)
            << "camera blocks after restart " << restart;
    }
}

}  // namespace
}  // namespace bayercam::testing
