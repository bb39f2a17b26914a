// Settings persistence: limits on load, storing at filter close and device stop, values of
// the wrong length, and the record loaded again in a new process.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <map>
#include <string>

#include "driver/control/region_of_interest.h"
#include "driver/control/settings_store.h"
#include "driver/usb/frame_transfer.h"
#include "host/kernel/registry_config.h"
#include "tests/driver/control/property_client.h"
#include "tests/support/camera_fixture.h"

namespace bayercam::testing {
namespace {

using SettingsTest = CameraTest;

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

TEST_F(StoredSettingsTest, TimeoutSetThroughThePropertySurvivesARestart) {
    open();
    ASSERT_EQ(set(1, 700), STATUS_SUCCESS);
    ASSERT_EQ(set(1, 500), STATUS_SUCCESS);
    ASSERT_EQ(client->closeFilter(filter), STATUS_SUCCESS);
    EXPECT_EQ(storedSetting(L"Timeout"), 700u) << "saved at filter close";
    InterlockedExchange(&transferTimeoutMs, 3000);
    ASSERT_EQ(client->stopDevice(handle), STATUS_SUCCESS);
    ASSERT_EQ(client->startDevice(handle), STATUS_SUCCESS);
    EXPECT_EQ(device()->timeout, 700u);
    EXPECT_EQ(transferTimeoutMs, 700) << "the start takes what the property set";
}

// Runs the second process over the same registry and device instance; its printed record.
std::map<std::string, long long> RecordLoadedInANewProcess(const std::wstring& instance) {
    const std::string command = std::string(SETTINGS_READER) + " '" +
                                host::registryPath().string() + "' '" +
                                std::string(instance.begin(), instance.end()) + "'";
    std::map<std::string, long long> record;
    FILE* output = popen(command.c_str(), "r");
    if (output == nullptr) return record;
    char line[128];
    while (std::fgets(line, sizeof(line), output) != nullptr) {
        char name[64];
        long long value;
        if (std::sscanf(line, "%63[^=]=%lld", name, &value) == 2) record[name] = value;
    }
    EXPECT_EQ(pclose(output), 0) << command;
    return record;
}

TEST_F(StoredSettingsTest, SavedAtFilterCloseAndStopAndLoadedInANewProcess) {
    open();
    ASSERT_EQ(set(1, 4321), STATUS_SUCCESS);
    ASSERT_EQ(set(2, 100), STATUS_SUCCESS);
    ASSERT_EQ(set(20, 300), STATUS_SUCCESS);
    ASSERT_EQ(set(10, 1), STATUS_SUCCESS);
    ASSERT_EQ(set(14, 200), STATUS_SUCCESS);
    ASSERT_EQ(set(48, 0), STATUS_SUCCESS);
    ASSERT_EQ(setRegion(100, 50, 640, 480), STATUS_SUCCESS);
    ASSERT_EQ(client->closeFilter(filter), STATUS_SUCCESS);
    EXPECT_EQ(storedSetting(L"Brightness"), 300u) << "saved at filter close";
    device()->contrast = 17;
    ASSERT_EQ(client->detachDevice(handle), STATUS_SUCCESS);
    EXPECT_EQ(storedSetting(L"Contrast"), 17u) << "saved at device stop";

    std::map<std::string, long long> loaded = RecordLoadedInANewProcess(bus->instancePath());
    const std::pair<const char*, long long> expected[] = {
        {"Timeout", 4321},  {"TransferTimeout", 4321},
        {"Exposure", 100},  {"Brightness", 300},
        {"FlipH", 1},       {"FlipV", 0},
        {"RedGain", 200},   {"ColorCorrection", 0},
        {"Contrast", 17},   {"RoiX", 100},
        {"RoiY", 50},       {"RoiW", 640},
        {"RoiH", 480},      {"Hue", 0},
        {"GreenGain", 128},
    };
    for (auto [name, value] : expected) {
        ASSERT_TRUE(loaded.contains(name)) << name << " not printed by the second process";
        EXPECT_EQ(loaded[name], value) << name;
    }
}

}  // namespace
}  // namespace bayercam::testing
