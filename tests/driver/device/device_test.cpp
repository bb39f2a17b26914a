// CameraDevice: the record after Add and Start, CameraOps, Add failures, Start with a failing
// configuration, Stop and later Starts.
#include <gtest/gtest.h>

#include "driver/control/region_of_interest.h"
#include "driver/device/pool_tags.h"
#include "host/kernel/failure_injection.h"
#include "tests/support/camera_fixture.h"

namespace bayercam::testing {
namespace {

using DeviceTest = CameraTest;

class CountingNotifier final : public FrameNotifier {
  public:
    void RequestProcessing() override { ++requests; }
    int requests = 0;
};

TEST_F(DeviceTest, AfterTheFirstStartTheRecordHoldsTheLoadedDefaults) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    CameraDevice* camera = device();
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->ksDevice, ksDevice());
    EXPECT_EQ(camera->usb.physicalDevice, bus->physicalDeviceObject());
    EXPECT_EQ(camera->usb.lowerDevice, ksDevice()->NextDeviceObject);
    EXPECT_EQ(camera->usb.functionalDevice, ksDevice()->FunctionalDeviceObject);
    EXPECT_EQ(camera->timeout, 3000u);
    EXPECT_EQ(camera->exposure, 3u) << "an empty Settings key loads exposure 3";
    EXPECT_EQ(camera->globalGain, 0u);
    EXPECT_EQ(camera->colorEnable, 1u);
    EXPECT_EQ(camera->whiteBalance, 0u);
    EXPECT_EQ(camera->colorCorrection, 1u);
    EXPECT_EQ(camera->brightness, 255u);
    EXPECT_EQ(camera->contrast, 10u);
    EXPECT_EQ(camera->saturation, 10u);
    EXPECT_EQ(camera->hue, 0u);
    EXPECT_EQ(camera->redGain, 128u);
    EXPECT_EQ(camera->greenGain, 128u);
    EXPECT_EQ(camera->blueGain, 128u);
    EXPECT_EQ(camera->nativeBayerPhase, 1u);
    EXPECT_EQ(camera->bayerPhase, 1u);
    EXPECT_EQ(camera->clock, 1u) << "the camera answers clock mode 1";
    EXPECT_EQ(camera->sensorInitCount, 1);
    EXPECT_EQ(camera->roiX, 0);
    EXPECT_EQ(camera->roiY, 0);
    EXPECT_EQ(camera->roiW, 1360);
    EXPECT_EQ(camera->roiH, 1024);
    EXPECT_EQ(camera->outputWidth, 1360);
    EXPECT_EQ(camera->outputHeight, 1024);
    EXPECT_EQ(camera->fullFrameWidth, 1360);
    EXPECT_EQ(camera->fullFrameHeight, 1024);
    EXPECT_NE(camera->frameGrabber, nullptr);
    EXPECT_EQ(camera->colorPipeline, nullptr);
    EXPECT_EQ(camera->frameNotifier, nullptr);
    EXPECT_EQ(camera->captureBusy, 0);
    EXPECT_EQ(camera->roiLocked, 0);
    EXPECT_NE(camera->usb.interfaceInfo, nullptr);
    EXPECT_EQ(camera->usb.transferSlots, nullptr);
}

TEST_F(DeviceTest, FrameGeometryIsZeroUntilTheSensorStarts) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    CameraOps* ops = device();
    ULONG size = 99, offset = 99, stride = 99;
    ops->GetFrameSize(&size);
    ops->GetFrameOffset(&offset);
    ops->GetFrameStride(&stride);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(offset, 0u);
    EXPECT_EQ(stride, 0u);
    ASSERT_TRUE(ops->StartSensor());
    ops->GetFrameSize(&size);
    ops->GetFrameOffset(&offset);
    ops->GetFrameStride(&stride);
    EXPECT_EQ(size, 1392640u);
    EXPECT_EQ(offset, 0u);
    EXPECT_EQ(stride, 1360u);
}

TEST_F(DeviceTest, RegionOriginThroughCameraOps) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    SetRoi(device(), 8, 6, 100, 100, 0);
    CameraOps* ops = device();
    ASSERT_TRUE(ops->StartSensor());
    ULONG offset = 0, stride = 0;
    ops->GetFrameOffset(&offset);
    ops->GetFrameStride(&stride);
    EXPECT_EQ(ops->GetRoiX(), 8);
    EXPECT_EQ(ops->GetRoiY(), 6);
    EXPECT_EQ(offset + ops->GetRoiY() * stride + ops->GetRoiX(), 6u * 1360 + 8);
}

TEST_F(DeviceTest, FrameReadyCountsAndNotifies) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    CountingNotifier notifier;
    device()->frameNotifier = &notifier;
    CameraOps* ops = device();
    ops->FrameReady();
    ops->FrameReady();
    EXPECT_EQ(device()->frameCount, 2u);
    EXPECT_EQ(notifier.requests, 2);
    device()->frameNotifier = nullptr;
}

TEST_F(DeviceTest, LockedRegionIgnoresSetRoi) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    SetRoiLocked(device(), 1);
    device()->subSample = 5;
    SetRoi(device(), 100, 100, 200, 200, 0);
    EXPECT_EQ(device()->roiW, 1360);
    EXPECT_EQ(device()->subSample, 5) << "nothing changes while a pin exists";
    SetRoiLocked(device(), 0);
    SetRoi(device(), 100, 100, 200, 200, 0);
    EXPECT_EQ(device()->roiW, 200);
}

TEST_F(DeviceTest, AddWithoutMemoryLeavesNothing) {
    host::injection::failNthOfTag(POOL_TAG_CAMERA, 1);
    EXPECT_EQ(attach(), STATUS_INSUFFICIENT_RESOURCES);
}

TEST_F(DeviceTest, StartWhoseConfigurationFailsStillPreparesTheCamera) {
    // The eighth USB buffer of a start is the pipe marks: the pipe table is kept, the
    // configuration fails, and the camera initialisation still runs over the kept pipes.
    host::injection::failNthOfTag(POOL_TAG_USB, 8);
    EXPECT_EQ(attach(), STATUS_INSUFFICIENT_RESOURCES);
    ASSERT_FALSE(commands().empty());
    EXPECT_EQ(commands().front(), MakePacket({0x06}));
    EXPECT_EQ(device()->sensorInitCount, 1);
    EXPECT_EQ(device()->exposure, 3u) << "the settings were loaded";
}

TEST_F(DeviceTest, StartWithoutAnyUsbBufferSendsNothingAndLoadsSettings) {
    host::injection::failNthOfTag(POOL_TAG_USB, 1);
    EXPECT_EQ(attach(), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(commands().empty()) << "without a pipe table no packet reaches the camera";
    EXPECT_EQ(device()->usb.interfaceInfo, nullptr);
    EXPECT_EQ(device()->exposure, 3u);
}

TEST_F(DeviceTest, StopThenStartRebuildsThePipeTable) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    ASSERT_EQ(client->stopDevice(handle), STATUS_SUCCESS);
    EXPECT_EQ(device()->usb.interfaceInfo, nullptr);
    EXPECT_EQ(device()->usb.configDescriptor, nullptr);
    EXPECT_EQ(device()->usb.pipeInUse, nullptr);
    EXPECT_EQ(camera->configurationValue(), 0) << "Stop deconfigures the device";

    forget();
    ASSERT_EQ(client->startDevice(handle), STATUS_SUCCESS);
    ASSERT_NE(device()->usb.interfaceInfo, nullptr);
    EXPECT_EQ(device()->usb.interfaceInfo->NumberOfPipes, 3u);
    EXPECT_EQ(camera->configurationValue(), 1);
    ASSERT_FALSE(commands().empty());
    EXPECT_EQ(commands().front(), MakePacket({0x06}));
}

TEST_F(DeviceTest, RestartsKeepTheOneFrameGrabber) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    FrameGrabber* first = device()->frameGrabber;
    ASSERT_NE(first, nullptr);
    const host::pool::TagUsage started = host::pool::usage(POOL_TAG_CAMERA);
    for (int restart = 1; restart <= 3; ++restart) {
        ASSERT_EQ(client->stopDevice(handle), STATUS_SUCCESS);
        ASSERT_EQ(client->startDevice(handle), STATUS_SUCCESS);
        EXPECT_EQ(device()->frameGrabber, first) << "restart " << restart;
        const host::pool::TagUsage now = host::pool::usage(POOL_TAG_CAMERA);
        EXPECT_EQ(now.blocks, started.blocks) << "camera blocks after restart " << restart;
    }
}

TEST_F(DeviceTest, StopWithoutConfigurationSavesAndDeconfigures) {
    host::injection::failNthOfTag(POOL_TAG_USB, 1);
    EXPECT_EQ(attach(), STATUS_INSUFFICIENT_RESOURCES);
    // A device that failed to start is not flagged as started; Stop is called directly.
    device()->exposure = 321;
    CameraDeviceStop(ksDevice(), nullptr);
    EXPECT_EQ(storedSetting(L"Exposure"), 321u);
    EXPECT_EQ(camera->configurationValue(), 0);
}

}  // namespace
}  // namespace bayercam::testing
