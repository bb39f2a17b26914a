// Sensor programming against the simulated camera: the start-up sequence in order, its clock
// branches, the register-backed settings and the sensor start.
#include "driver/control/sensor.h"

#include <gtest/gtest.h>

#include <utility>

#include "tests/support/camera_fixture.h"
#include "driver/usb/command_protocol.h"

namespace bayercam::testing {
namespace {

using Write = std::pair<unsigned, std::uint32_t>;

void AddRange(std::vector<Write>& writes, unsigned first, unsigned last, std::uint32_t value) {
    for (unsigned r = first; r <= last; ++r) writes.push_back({r, value});
}

// The start-up writes before the clock query, transcribed from the sensor's programming table.
std::vector<Write> StartUpWrites() {
    std::vector<Write> w;
    const std::uint32_t analog[] = {63, 0, 56, 63, 55, 6, 58, 0, 48, 36, 7, 2};
    for (unsigned i = 0; i < 12; ++i) w.push_back({35 + i, analog[i]});
    const std::uint32_t t384[] = {0x1B001, 0x220001, 0x260001, 0x00002, 0x3C004,
                                  0x00005, 0x58427,  0x00428,  0x0042D, 0x3E042D};
    for (unsigned i = 0; i < 10; ++i) w.push_back({384 + i, t384[i]});
    const std::uint32_t t400[] = {0x10E001, 0x220001, 0xD1003, 0x14D006, 0x10E007,
                                  0x19E009, 0x10E00A, 0x9110B, 0x3E010B};
    for (unsigned i = 0; i < 9; ++i) w.push_back({400 + i, t400[i]});
    const std::uint32_t common[] = {0x032014, 0x072034, 0x236036, 0x142037, 0x004038, 0x234039,
                                    0x12203A, 0x02403B, 0x166064, 0x068065, 0x02A08F, 0x07C0A2,
                                    0x0600B9, 0x1260E2, 0x0280E3, 0x16210C, 0x06410D, 0x020137};
    const std::vector<std::uint32_t> tails[] = {
        {0x06A161, 0x274185, 0x276186, 0x102187, 0x044188, 0x03018A, 0x07019C, 0x13C6FC, 0x3FE6FD},
        {0x274185, 0x276186, 0x102187, 0x044188, 0x03018A, 0x07019C, 0x20831E, 0x10A31F, 0x00C320,
         0x06A322, 0x248382, 0x14A383, 0x04C384, 0x13C6FC, 0x3FE6FD},
        {0x06A161, 0x274185, 0x276186, 0x102187, 0x044188, 0x03018A, 0x07019C, 0x23C6FB, 0x17A6FC,
         0x3FE6FD},
        {0x06A161, 0x274185, 0x276186, 0x102187, 0x044188, 0x03018A, 0x07019C, 0x23C6FB, 0x13A6FC,
         0x3FE6FD},
    };
    unsigned reg = 512;
    for (const auto& tail : tails) {
        for (std::uint32_t v : common) w.push_back({reg++, v});
        for (std::uint32_t v : tail) w.push_back({reg++, v});
    }
    EXPECT_EQ(reg, 628u);
    w.push_back({0, 0});
    w.push_back({1, 14});
    AddRange(w, 2, 6, 0);
    w.push_back({7, 3});
    AddRange(w, 8, 30, 0);
    w.push_back({33, 0});
    w.push_back({34, 5});
    w.push_back({47, 9});
    w.push_back({48, 0});
    w.push_back({49, 6});
    AddRange(w, 50, 62, 0);
    AddRange(w, 64, 75, 0);
    AddRange(w, 124, 139, 0);
    const Write middle[] = {{140, 36}, {141, 2}, {142, 0}, {143, 34}, {144, 4}, {145, 2}};
    w.insert(w.end(), std::begin(middle), std::end(middle));
    AddRange(w, 146, 151, 0);
    const Write exposure[] = {{152, 1}, {153, 0}, {154, 0},  {155, 2},
                              {156, 0}, {157, 1}, {158, 36}, {159, 1}};
    w.insert(w.end(), std::begin(exposure), std::end(exposure));
    AddRange(w, 160, 163, 0);
    w.push_back({158, 36});
    w.push_back({159, 1});
    AddRange(w, 76, 123, 0);
    return w;
}

std::vector<Write> ClockWrites(int clock) {
    std::vector<Write> w;
    if (clock == 1) {
        w = {{25, 24}, {26, 1}};
    } else if (clock == 2) {
        w = {{25, 42}, {26, 1}, {17, 24}, {19, 15}};
    } else {
        w = {{25, 32}, {26, 1}};
    }
    w.push_back({32, 11});
    w.push_back({24, 15});
    return w;
}

class SensorTest : public CameraTest {
  protected:
    // The command packets of the first start, from Prepare to the end of the start-up writes.
    std::vector<Packet> startUp(std::size_t clockWrites) const {
        auto packets = commands();
        std::size_t count = 1 + StartUpWrites().size() + 1 + clockWrites;
        if (packets.size() > count) packets.resize(count);
        return packets;
    }
    static std::vector<Packet> expectedStartUp(int clock) {
        std::vector<Packet> packets{MakePacket({0x06})};
        for (const Write& w : StartUpWrites()) packets.push_back(RegisterPacket(w.first, w.second));
        packets.push_back(MakePacket({0x26, 0x0F}));
        for (const Write& w : ClockWrites(clock))
            packets.push_back(RegisterPacket(w.first, w.second));
        return packets;
    }
};

void ExpectSamePackets(const std::vector<Packet>& expected, const std::vector<Packet>& got) {
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(got[i], expected[i]) << "packet " << i << " of " << expected.size();
    }
}

class ClockBranchTest : public SensorTest, public ::testing::WithParamInterface<int> {
  protected:
    sim::SimulatedCameraOptions options() const override {
        sim::SimulatedCameraOptions o = CameraTest::options();
        o.clockMode = std::uint8_t(GetParam());
        return o;
    }
};

TEST_P(ClockBranchTest, StartUpSequenceInOrder) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    const int clock = GetParam() == 3 ? 2 : GetParam();
    const auto expected = expectedStartUp(clock);
    ExpectSamePackets(expected, startUp(ClockWrites(clock).size()));
}

INSTANTIATE_TEST_SUITE_P(Clock, ClockBranchTest, ::testing::Values(0, 1, 2, 3));

TEST_F(SensorTest, FailedClockQueryTakesTheBranchOfThePreviousClock) {
    InterlockedExchange(&commandTimeoutMs, 250);
    camera->setClockMode(2);
    camera->faults().neverReply = true;
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    ExpectSamePackets(expectedStartUp(0), startUp(ClockWrites(0).size()));
}

TEST_F(SensorTest, ThirdInitSensorSendsNothing) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    ASSERT_TRUE(StartSensor(device()));
    EXPECT_EQ(device()->sensorInitCount, 2);
    forget();
    EXPECT_TRUE(InitSensor(device()));
    EXPECT_TRUE(commands().empty());
    EXPECT_EQ(device()->sensorInitCount, 2);
}

TEST_F(SensorTest, StartSensorAfterStartUp) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    ASSERT_TRUE(StartSensor(device()));
    device()->exposure = 100;
    device()->globalGain = 70;
    forget();
    ASSERT_TRUE(StartSensor(device()));
    const std::vector<Packet> expected = {
        MakePacket({0x25, 0, 0}),  MakePacket({0x25, 1, 64}), MakePacket({0x25, 2, 21}),
        MakePacket({0x25, 3, 0}),  MakePacket({0x0A, 1}),     MakePacket({0x25, 14, 0}),
        MakePacket({0x25, 11, 0}), RegisterPacket(32, 27),    RegisterPacket(33, 1),
        RegisterPacket(152, 1),    RegisterPacket(154, 0),    RegisterPacket(157, 1),
        RegisterPacket(160, 0),    RegisterPacket(163, 0),    RegisterPacket(158, 36),
        RegisterPacket(159, 1),    RegisterPacket(161, 36),   RegisterPacket(162, 1),
        RegisterPacket(6, 6),      RegisterPacket(7, 1),
    };
    ExpectSamePackets(expected, commands());
    EXPECT_EQ(device()->rawFrameSize, 1392640u);
    EXPECT_EQ(device()->bayerPhase, 1u);
}

TEST_F(SensorTest, OnlyTheLowByteOfTheTriggerSettingCounts) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    device()->exTrigger = 256;
    ASSERT_TRUE(StartSensor(device()));
    EXPECT_FALSE(camera->externalTriggerMode());
    EXPECT_EQ(device()->exTrigger, 0u);
}

TEST_F(SensorTest, FailedGainWriteFailsTheSensorStart) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    device()->globalGain = 5;
    observed->refuseCommands([](std::span<const std::uint8_t> p) {
        return p[0] == 0x04 && p[1] == 16 && (p[2] & 0xFF) == 7 && (p[3] & 0x03) == 0;
    });
    EXPECT_FALSE(StartSensor(device()));
    EXPECT_EQ(device()->rawFrameSize, 1392640u) << "everything else was done";
    EXPECT_EQ(device()->globalGain, 5u);
}

TEST_F(SensorTest, ExposureIsClampedAndItsLongestValueTakesItsOwnPath) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    forget();
    SetExposure(device(), 0);
    EXPECT_EQ(device()->exposure, 3u);
    EXPECT_EQ(commands().at(5), RegisterPacket(158, 3));
    for (ULONG longest : {1070u, 5000u, 0xFFFFFFFFu}) {
        forget();
        SetExposure(device(), longest);
        EXPECT_EQ(device()->exposure, 1070u) << longest;
        const std::vector<Packet> expected = {RegisterPacket(152, 1), RegisterPacket(154, 1),
                                              RegisterPacket(157, 1), RegisterPacket(160, 1),
                                              RegisterPacket(163, 1)};
        ExpectSamePackets(expected, commands());
    }
}

TEST_F(SensorTest, GlobalGainIsLimitedAndStoredOnlyWhenWritten) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    forget();
    EXPECT_TRUE(SetGlobalGain(device(), 2000));
    ExpectSamePackets({RegisterPacket(6, 63), RegisterPacket(7, 15)}, commands());
    EXPECT_EQ(device()->globalGain, 1023u);
    observed->refuseCommands([](std::span<const std::uint8_t> p) { return p[0] == 0x04; });
    forget();
    EXPECT_FALSE(SetGlobalGain(device(), 10));
    EXPECT_EQ(device()->globalGain, 1023u);
}

TEST_F(SensorTest, TriggerRewritesRegisters32And33FromTheShadow) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    for (int round = 0; round < 2; ++round) {
        forget();
        EXPECT_TRUE(SetExternalTrigger(device(), true));
        ExpectSamePackets(
            {MakePacket({0x25, 11, 1}), RegisterPacket(32, 11), RegisterPacket(33, 0x1C)},
            commands());
    }
    EXPECT_TRUE(camera->externalTriggerMode());
    EXPECT_EQ(device()->exTrigger, 1u);
    forget();
    EXPECT_TRUE(SetExternalTrigger(device(), false));
    ExpectSamePackets({MakePacket({0x25, 11, 0}), RegisterPacket(32, 27), RegisterPacket(33, 1)},
                      commands());
    observed->refuseCommands([](std::span<const std::uint8_t> p) { return p[0] == 0x25; });
    forget();
    EXPECT_FALSE(SetExternalTrigger(device(), true));
    EXPECT_EQ(commands().size(), 0u);
    EXPECT_EQ(device()->exTrigger, 0u);
}

}  // namespace
}  // namespace bayercam::testing
