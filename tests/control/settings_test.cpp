// The region of interest and settings persistence through a device start and stop.
#include <gtest/gtest.h>

#include "control/region_of_interest.h"
#include "control/settings_store.h"
#include "host/kernel/registry_config.h"
#include "tests/driver/camera_fixture.h"
#include "usb/frame_transfer.h"

namespace bayercam::testing {
namespace {

using RegionTest = CameraTest;

struct Region {
    LONG x, y, w, h, outputWidth;
};

TEST_F(RegionTest, RegionIsBroughtIntoTheSensorFrame) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    struct Case {
        Region in;
        Region out;
    };
    const Case cases[] = {
        {{0, 0, 0, 0, 0}, {0, 0, 1360, 1024, 1360}},
        {{7, 3, 100, 100, 0}, {8, 4, 100, 100, 96}},
        {{1353, 0, 100, 50, 0}, {1352, 0, 8, 50, 8}},
        {{0, 1000, 1360, 100, 0}, {0, 1000, 1360, 24, 1360}},
        {{0, 0, 1360, 2000, 0}, {0, 0, 1360, 1024, 1360}},
        {{-5, -5, 5000, 5000, 0}, {0, 0, 1360, 1024, 1360}},
        {{0, 0, 5, 10, 0}, {0, 0, 5, 10, 0}},
    };
    for (const Case& c : cases) {
        SetRoi(device(), c.in.x, c.in.y, c.in.w, c.in.h, 3);
        const Region got{device()->roiX, device()->roiY, device()->roiW, device()->roiH,
                         device()->outputWidth};
        EXPECT_EQ(got.x, c.out.x) << "SetRoi(" << c.in.x << ", " << c.in.y << ", " << c.in.w << ", "
                                  << c.in.h << ")";
        EXPECT_EQ(got.y, c.out.y) << "SetRoi(" << c.in.x << ", " << c.in.y << ")";
        EXPECT_EQ(got.w, c.out.w) << "SetRoi(" << c.in.x << ", " << c.in.w << ")";
        EXPECT_EQ(got.h, c.out.h) << "SetRoi(" << c.in.y << ", " << c.in.h << ")";
        EXPECT_EQ(got.outputWidth, c.out.outputWidth) << "width " << c.in.w;
        EXPECT_EQ(device()->outputHeight, got.h);
        EXPECT_EQ(device()->subSample, 0);
    }
}

using SettingsTest = CameraTest;

TEST_F(SettingsTest, StoredValuesAreLoadedAtStartAndLimited) {
    storeSetting(L"Timeout", 501);
    storeSetting(L"Exposure", 100);
    storeSetting(L"GlobalGain", 2000);
    storeSetting(L"Brightness", 0xFFFFFFFF);
    storeSetting(L"RedGain", 0);
    storeSetting(L"RoiX", 1359);
    storeSetting(L"RoiW", 0);
    storeSetting(L"ExTrigger", 1);
    storeSetting(L"SubSample", 5);
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    CameraDevice* camera = device();
    EXPECT_EQ(camera->timeout, 501u);
    EXPECT_EQ(transferTimeoutMs, 501);
    EXPECT_EQ(camera->exposure, 100u);
    EXPECT_EQ(camera->globalGain, 1023u);
    EXPECT_EQ(camera->brightness, 0u) << "-1 loads as 0";
    EXPECT_EQ(camera->redGain, 1u);
    EXPECT_EQ(camera->roiX, 1352) << "1359 rounds up to 1360, then is limited";
    EXPECT_EQ(camera->roiW, 8);
    EXPECT_EQ(camera->exTrigger, 1u);
    EXPECT_TRUE(this->camera->externalTriggerMode());
    EXPECT_EQ(camera->subSample, 0);
}

TEST_F(SettingsTest, TimeoutOutsideItsRangeIsIgnored) {
    for (ULONG timeout : {500u, 10000u}) {
        storeSetting(L"Timeout", timeout);
        InterlockedExchange(&transferTimeoutMs, 3000);
        ASSERT_EQ(attach(), STATUS_SUCCESS);
        EXPECT_EQ(device()->timeout, 3000u) << timeout;
        EXPECT_EQ(transferTimeoutMs, 3000) << timeout;
        ASSERT_EQ(client->detachDevice(handle), STATUS_SUCCESS);
    }
}

TEST_F(SettingsTest, StopStoresTheRecordAndTheNextStartLoadsIt) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    device()->contrast = 17;
    device()->agc = 0;
    SetRoi(device(), 100, 50, 640, 480, 0);
    ASSERT_EQ(client->stopDevice(handle), STATUS_SUCCESS);
    EXPECT_EQ(storedSetting(L"Contrast"), 17u);
    EXPECT_EQ(storedSetting(L"RoiX"), 100u);
    EXPECT_EQ(storedSetting(L"RoiW"), 640u);
    EXPECT_EQ(storedSetting(L"Clock"), 1u) << "the clock the camera reported";
    EXPECT_EQ(storedSetting(L"AGC"), 0u);
    device()->contrast = 3;
    SetRoi(device(), 0, 0, 0, 0, 0);
    ASSERT_EQ(client->startDevice(handle), STATUS_SUCCESS);
    EXPECT_EQ(device()->contrast, 17u);
    EXPECT_EQ(device()->roiW, 640);
    EXPECT_EQ(device()->roiY, 50);
}

TEST_F(SettingsTest, WithoutADriverKeyNothingIsLoadedOrStored) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    host::unbindDeviceRegistryKey(bus->physicalDeviceObject());
    device()->exposure = 555;
    EXPECT_FALSE(SaveSettings(device()));
    EXPECT_FALSE(LoadSettings(device()));
    EXPECT_EQ(device()->exposure, 555u);
}

}  // namespace
}  // namespace bayercam::testing
