// Delivered pictures against the scalar reference applied to the raw frame the camera sent:
// flips, a format wider than the picture, white balance, and two cameras with different
// regions (one not a multiple of 8 wide) at once.
#include <gtest/gtest.h>

#include "driver/control/image_settings.h"
#include "driver/control/region_of_interest.h"
#include "host/kernel/registry_config.h"
#include "tests/driver/streaming/capture_fixture.h"

namespace bayercam::testing {
namespace {

using PicturesTest = CaptureTest;

struct Flips {
    bool h;
    bool v;
};

class FlipTest : public CaptureTest, public ::testing::WithParamInterface<Flips> {};

TEST_P(FlipTest, PicturesMatchTheReferenceWithTheFlips) {
    open();
    SetFlipH(device(), GetParam().h ? 1 : 0);
    SetFlipV(device(), GetParam().v ? 1 : 0);
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    for (int i = 0; i < 2; ++i) {
        StreamFrame frame;
        ASSERT_EQ(nextPicture(1360 * 1024 * 4, &frame), STATUS_SUCCESS);
        EXPECT_GE(matchingCameraFrame(frame, {}, {}, GetParam().h, GetParam().v), 0)
            << "picture " << i << " matches no recent camera frame";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFlip, FlipTest,
                         ::testing::Values(Flips{false, false}, Flips{true, true},
                                           Flips{true, false}, Flips{false, true}));

TEST_F(PicturesTest, AFormatWiderThanThePictureStepsByTheLongerRow) {
    open();
    VideoFormat format = offeredFormat();
    format.VideoInfoHeader.bmiHeader.biWidth = 1400;
    format.VideoInfoHeader.bmiHeader.biSizeImage = 1400 * 1024 * 4;
    ASSERT_EQ(createPin(format), STATUS_SUCCESS) << "the wider format from the start";
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    StreamFrame frame;
    ASSERT_EQ(nextPicture(1400 * 1024 * 4, &frame), STATUS_SUCCESS);
    EXPECT_EQ(frame.header.DataUsed, 1400u * 1024 * 4);
    EXPECT_GE(matchingCameraFrame(frame), 0)
        << "each row at the start of a 5600-byte row, the rest left as it was";
}

TEST_F(PicturesTest, WhiteBalancedPicturesMatchTheMeasuringReference) {
    open();
    {
        SettingsLockGuard guard(device());
        SetWhiteBalance(device(), 1);
    }
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    StreamFrame frame;
    ASSERT_EQ(nextPicture(1360 * 1024 * 4, &frame), STATUS_SUCCESS);
    PictureSettings measured;
    measured.whiteBalance = 1;
    EXPECT_GE(matchingCameraFrame(frame, {}, measured), 0);
}

// A second simulated camera on its own bus, attached to the same client.
class TwoCamerasTest : public CaptureTest {
  protected:
    void TearDown() override {
        client.reset();
        if (secondBus) host::unbindDeviceRegistryKey(secondBus->physicalDeviceObject());
        secondBus.reset();
        secondCamera.reset();
        CaptureTest::TearDown();
    }

    std::unique_ptr<sim::SimulatedCamera> secondCamera;
    std::unique_ptr<host::UsbBus> secondBus;
};

TEST_F(TwoCamerasTest, EachDeliversThePictureOfItsOwnRegion) {
    open();
    secondCamera = std::make_unique<sim::SimulatedCamera>(options());
    secondBus = std::make_unique<host::UsbBus>(*secondCamera);
    const std::wstring& path = secondBus->instancePath();
    host::bindDeviceRegistryKey(secondBus->physicalDeviceObject(),
                                std::string(path.begin(), path.end()));
    host::ks::KsDeviceHandle secondHandle = nullptr;
    ASSERT_EQ(client->attachDevice(secondBus->physicalDeviceObject(), &secondHandle),
              STATUS_SUCCESS);
    CameraDevice* secondDevice = CameraDeviceOf(client->deviceObject(secondHandle));
    ASSERT_NE(secondDevice, nullptr);

    const Region first{0, 0, 640, 480};
    const Region second{100, 200, 322, 240};
    SetRegion(device(), first);
    SetRegion(secondDevice, second);
    host::ks::KsFilterHandle secondFilter = nullptr;
    ASSERT_EQ(client->openFilter(secondHandle, L"GLOBAL", &secondFilter), STATUS_SUCCESS);

    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    VideoFormat secondFormat{};
    ULONG returned = 0;
    const KS_DATARANGE_VIDEO& secondRange = secondDevice->captureDescriptors.dataRange;
    ASSERT_EQ(client->intersect(secondFilter, 0, &secondRange.DataRange, &secondFormat,
                                sizeof(secondFormat), &returned),
              STATUS_SUCCESS);
    host::ks::KsPinHandle secondPin = nullptr;
    ASSERT_EQ(client->createPin(secondFilter, 0, &secondFormat.DataFormat, &secondPin),
              STATUS_SUCCESS);

    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_EQ(client->setPinState(secondPin, KSSTATE_RUN), STATUS_SUCCESS);
    for (int i = 0; i < 3; ++i) {
        StreamFrame frame;
        ASSERT_EQ(nextPicture(640 * 480 * 4, &frame), STATUS_SUCCESS);
        EXPECT_GE(matchingCameraFrame(frame, first), 0);

        StreamFrame other;
        do {
            ASSERT_EQ(client->queueFrame(secondPin, 320 * 240 * 4), STATUS_SUCCESS);
            ASSERT_EQ(client->waitFrame(secondPin, frameWait, &other), STATUS_SUCCESS);
        } while (other.header.DataUsed == 0);
        EXPECT_GE(MatchingCameraFrame(*secondCamera, other, second, PictureSettings{}, 320 * 4,
                                      false, false),
                  0);
    }
}

}  // namespace
}  // namespace bayercam::testing
