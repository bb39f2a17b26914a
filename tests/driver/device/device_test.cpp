// CameraDevice across Stop and Start: the device configured again, its filter factory made
// again, and the one frame grabber kept.
#include <gtest/gtest.h>

#include "driver/device/pool_tags.h"
#include "driver/entry/filter.h"
#include "tests/support/camera_fixture.h"

namespace bayercam::testing {
namespace {

using DeviceTest = CameraTest;

TEST_F(DeviceTest, StopDeconfiguresAndStartConfiguresPreparesAndMakesTheFactoryAgain) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    ASSERT_EQ(client->stopDevice(handle), STATUS_SUCCESS);
    EXPECT_EQ(camera->configurationValue(), 0);
    host::ks::KsFilterHandle filter = nullptr;
    EXPECT_FALSE(NT_SUCCESS(client->openFilter(handle, L"GLOBAL", &filter)))
        << "a stopped device has no factory";
    forget();
    ASSERT_EQ(client->startDevice(handle), STATUS_SUCCESS);
    EXPECT_EQ(camera->configurationValue(), 1);
    ASSERT_FALSE(commands().empty());
    EXPECT_EQ(commands().front(), MakePacket({0x06}));
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &filter), STATUS_SUCCESS);
    EXPECT_EQ(client->closeFilter(filter), STATUS_SUCCESS);
    EXPECT_EQ(CreateCameraFilterFactory(ksDevice()), STATUS_SUCCESS)
        << "a started device keeps its one factory: a second under \"GLOBAL\" would collide";
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
