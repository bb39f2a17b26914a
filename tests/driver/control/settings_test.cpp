// The region of interest and settings persistence through a device start and stop.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "driver/control/region_of_interest.h"
#include "driver/control/settings_store.h"
#include "host/kernel/registry_config.h"
#include "tests/driver/control/property_client.h"
#include "tests/support/camera_fixture.h"
#include "driver/usb/frame_transfer.h"

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

// ---------------------------------------------------------------- through the property set

using StoredSettingsTest = PropertyTest;

TEST_F(StoredSettingsTest, EmptyKeyAfterTheFirstStartGivesTheLoadDefaults) {
    open();
    const std::pair<ULONG, LONG> defaults[] = {
        {1, 3000}, {2, 3},    {6, 0},    {12, 1},   {13, 0}, {48, 1}, {20, 255}, {24, 10}, {28, 10},
        {32, 0},   {14, 128}, {15, 128}, {16, 128}, {0, 0},  {10, 0}, {11, 0},   {37, 0},  {45, 0},
    };
    for (auto [id, expected] : defaults) EXPECT_EQ(read(id), expected) << "property " << id;
    EXPECT_EQ(device()->roiW, 1360);
    EXPECT_EQ(device()->roiH, 1024);
}

TEST_F(StoredSettingsTest, LimitsOnLoad) {
    storeSetting(L"Timeout", 9999);
    storeSetting(L"RoiX", 1360);
    storeSetting(L"RoiY", 0xFFFFFFFF);
    storeSetting(L"RoiH", 0x80000000);
    storeSetting(L"Hue", 400);
    storeSetting(L"BlueGain", 0xFFFFFFFF);
    storeSetting(L"SubSample", 5);
    open();
    EXPECT_EQ(read(1), 9999);
    EXPECT_EQ(device()->roiX, 0) << "RoiX 1360 loads as 0";
    EXPECT_EQ(device()->roiY, 0) << "RoiY above 1023 (unsigned) loads as 0";
    EXPECT_EQ(device()->roiH, 1024) << "RoiH above 1024 (unsigned) loads as 1024";
    EXPECT_EQ(read(32), 359);
    EXPECT_EQ(read(16), 1) << "-1 is below the gain minimum";
    EXPECT_EQ(read(37), 0) << "SubSample has no effect";
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
        {"Timeout", 4321},
        {"TransferTimeout", 4321},
        {"Exposure", 100},
        {"Brightness", 300},
        {"FlipH", 1},
        {"FlipV", 0},
        {"RedGain", 200},
        {"ColorCorrection", 0},
        {"Contrast", 17},
        {"RoiX", 100},
        {"RoiY", 50},
        {"RoiW", 640},
        {"RoiH", 480},
        {"Hue", 0},
        {"GreenGain", 128},
    };
    for (auto [name, value] : expected) {
        ASSERT_TRUE(loaded.contains(name)) << name << " not printed by the second process";
        EXPECT_EQ(loaded[name], value) << name;
    }
}

}  // namespace
}  // namespace bayercam::testing
