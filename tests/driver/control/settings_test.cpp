// Settings persistence: limits on load, storing at filter close and device stop, values of
// the wrong length, and the record loaded again at the next attach.
#include <gtest/gtest.h>

#include <array>

#include "driver/control/settings_store.h"
#include "driver/usb/frame_transfer.h"
#include "host/kernel/registry_config.h"
#include "tests/driver/control/property_client.h"
#include "tests/support/camera_fixture.h"

namespace bayercam::testing {
namespace {

using SettingsTest = CameraTest;

TEST_F(SettingsTest, WithoutADriverKeyNothingIsLoadedOrStored) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    host::unbindDeviceRegistryKey(bus->physicalDeviceObject());
    device()->exposure = 555;
    EXPECT_FALSE(SaveSettings(device()));
    EXPECT_FALSE(LoadSettings(device()));
    EXPECT_EQ(device()->exposure, 555u);
}

// ---------------------------------------------------------------- through the property set

using StoredSettingsTest = PropertyTest;

TEST_F(StoredSettingsTest, LimitsOnLoad) {
    const std::pair<PCWSTR, ULONG> stored[] = {
        {L"Timeout", 9999},    {L"Exposure", 100},
        {L"GlobalGain", 2000}, {L"Brightness", 0xFFFFFFFF},
        {L"RedGain", 0},       {L"BlueGain", 0xFFFFFFFF},
        {L"Hue", 400},         {L"ExTrigger", 1},
        {L"SubSample", 5},     {L"RoiX", 1359},
        {L"RoiW", 0},          {L"RoiY", 0xFFFFFFFF},
        {L"RoiH", 0x80000000},
    };
    for (auto [name, value] : stored) storeSetting(name, value);
    open();
    // -1 is below the brightness and gain minimums; an odd RoiX rounds up, then is limited.
    const std::pair<ULONG, LONG> loaded[] = {{1, 9999}, {2, 100},  {6, 1023}, {20, 0}, {14, 1},
                                             {16, 1},   {32, 359}, {0, 1},    {37, 0}};
    for (auto [id, expected] : loaded) EXPECT_EQ(read(id), expected) << "property " << id;
    EXPECT_EQ(transferTimeoutMs, 9999);
    EXPECT_TRUE(camera->externalTriggerMode());
    const CameraDevice* d = device();
    EXPECT_EQ((std::array<LONG, 4>{d->roiX, d->roiY, d->roiW, d->roiH}),
              (std::array<LONG, 4>{1352, 0, 8, 1024}));
    ASSERT_EQ(client->closeFilter(filter), STATUS_SUCCESS);
    EXPECT_EQ(storedSetting(L"SubSample"), 0u) << "written back as 0";
}

TEST_F(StoredSettingsTest, ValueShorterThanFourBytesIsMissing) {
    storeSettingBytes(L"Brightness", REG_BINARY, {7, 0});
    storeSettingBytes(L"Timeout", REG_DWORD, {0xF4, 0x01, 0x00});
    storeSettingBytes(L"Contrast", REG_BINARY, {3, 0, 0, 0, 0, 0, 0, 0});
    open();
    EXPECT_EQ(read(20), 255) << "a 2-byte value keeps the default";
    EXPECT_EQ(read(1), 3000) << "a 3-byte value keeps the default";
    EXPECT_EQ(read(24), 3) << "an 8-byte value gives its first four bytes";
}

TEST_F(StoredSettingsTest, SavedAtFilterCloseAndStopAndLoadedAtTheNextAttach) {
    open();
    // Flips of different values, so that neither can be loaded from the other's record.
    const std::pair<ULONG, LONG> values[] = {{1, 4321}, {2, 100}, {20, 300}, {10, 1}, {11, 0},
                                             {14, 200}, {15, 90}, {48, 0},   {32, 45}};
    for (auto [id, value] : values) ASSERT_EQ(set(id, value), STATUS_SUCCESS) << "property " << id;
    ASSERT_EQ(setRegion(100, 50, 640, 480), STATUS_SUCCESS);
    ASSERT_EQ(client->closeFilter(filter), STATUS_SUCCESS);
    EXPECT_EQ(storedSetting(L"Brightness"), 300u) << "saved at filter close";
    device()->contrast = 17;
    ASSERT_EQ(client->detachDevice(handle), STATUS_SUCCESS);
    EXPECT_EQ(storedSetting(L"Contrast"), 17u) << "saved at device stop";

    InterlockedExchange(&transferTimeoutMs, 3000);
    open();
    for (auto [id, value] : values) EXPECT_EQ(read(id), value) << "property " << id;
    EXPECT_EQ(read(24), 17);
    EXPECT_EQ(transferTimeoutMs, 4321);
    const CameraDevice* d = device();
    EXPECT_EQ((std::array<LONG, 4>{d->roiX, d->roiY, d->roiW, d->roiH}),
              (std::array<LONG, 4>{100, 50, 640, 480}));
}

}  // namespace
}  // namespace bayercam::testing
