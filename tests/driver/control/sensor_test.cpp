// Sensor programming against the simulated camera: the clock branch of the start-up, the
// start-up done only twice, and the register-backed settings with their limits and failures.
#include "driver/control/sensor.h"

#include <gtest/gtest.h>

#include "driver/usb/command_protocol.h"
#include "tests/support/camera_fixture.h"

namespace bayercam::testing {
namespace {

using SensorTest = CameraTest;

bool IsRegisterWrite(std::span<const std::uint8_t> p) { return p[0] == 0x04; }

// The clock the camera reports picks the PLL setting in register 25; mode 3 runs as mode 2.
TEST_F(SensorTest, TheReportedClockPicksThePllSetting) {
    const std::pair<std::uint8_t, unsigned> cases[] = {{0, 32}, {1, 24}, {2, 42}, {3, 42}};
    for (auto [mode, pll] : cases) {
        camera->setClockMode(mode);
        ASSERT_EQ(attach(), STATUS_SUCCESS);
        EXPECT_EQ(commands().front(), MakePacket({0x06})) << "Prepare first";
        EXPECT_EQ(camera->registerEntry(25).value, pll) << "clock mode " << int(mode);
        ASSERT_EQ(client->detachDevice(handle), STATUS_SUCCESS);
        forget();
    }
}

TEST_F(SensorTest, FailedClockQueryTakesTheBranchOfThePreviousClock) {
    InterlockedExchange(&commandTimeoutMs, 250);
    camera->setClockMode(2);
    camera->faults().neverReply = true;
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    EXPECT_EQ(camera->registerEntry(25).value, 32u);
}

TEST_F(SensorTest, FailedGainWriteFailsTheSensorStart) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    device()->globalGain = 5;
    observed->refuseCommands([](std::span<const std::uint8_t> p) {
        return IsRegisterWrite(p) && p[1] == 16 && p[2] == 7 && (p[3] & 0x03) == 0;
    });
    EXPECT_FALSE(StartSensor(device()));
    EXPECT_EQ(device()->rawFrameSize, 1392640u) << "everything else was done";
}

TEST_F(SensorTest, ExposureIsClampedAndItsLongestValueTakesItsOwnPath) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    SetExposure(device(), 0);
    EXPECT_EQ(camera->registerEntry(158).value, 3u);
    for (ULONG longest : {1070u, 5000u, 0xFFFFFFFFu}) {
        forget();
        SetExposure(device(), longest);
        const std::vector<Packet> expected = {RegisterPacket(152, 1), RegisterPacket(154, 1),
                                              RegisterPacket(157, 1), RegisterPacket(160, 1),
                                              RegisterPacket(163, 1)};
        EXPECT_EQ(commands(), expected) << longest;
    }
}

TEST_F(SensorTest, GlobalGainIsLimitedAndKeptOnlyWhenWritten) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    forget();
    EXPECT_TRUE(SetGlobalGain(device(), 2000));
    EXPECT_EQ(commands(), (std::vector<Packet>{RegisterPacket(6, 63), RegisterPacket(7, 15)}));
    observed->refuseCommands(IsRegisterWrite);
    EXPECT_FALSE(SetGlobalGain(device(), 10));
    EXPECT_EQ(device()->globalGain, 1023u);
}

TEST_F(SensorTest, TriggerRewritesRegisters32And33FromTheShadow) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    const std::pair<bool, std::vector<Packet>> cases[] = {
        {true, {MakePacket({0x25, 11, 1}), RegisterPacket(32, 11), RegisterPacket(33, 0x1C)}},
        {true, {MakePacket({0x25, 11, 1}), RegisterPacket(32, 11), RegisterPacket(33, 0x1C)}},
        {false, {MakePacket({0x25, 11, 0}), RegisterPacket(32, 27), RegisterPacket(33, 1)}},
    };
    for (const auto& [on, expected] : cases) {
        forget();
        EXPECT_TRUE(SetExternalTrigger(device(), on));
        EXPECT_EQ(commands(), expected) << "trigger " << on;
        EXPECT_EQ(camera->externalTriggerMode(), on);
    }
    observed->refuseCommands([](std::span<const std::uint8_t> p) { return p[0] == 0x25; });
    forget();
    EXPECT_FALSE(SetExternalTrigger(device(), true));
    EXPECT_TRUE(commands().empty());
    EXPECT_EQ(device()->exTrigger, 0u);
}

}  // namespace
}  // namespace bayercam::testing
