// The simulated camera through its USB function face, without a bus.
#include "sim/simulated_camera.h"

#include <gtest/gtest.h>

#include <thread>

namespace bayercam::sim {
namespace {

using host::UsbHandshake;
using Packet = std::array<std::uint8_t, kCommandPacketBytes>;

Packet command(CommandCode code, std::initializer_list<std::uint8_t> rest = {}) {
    Packet p{};
    p[0] = static_cast<std::uint8_t>(code);
    std::size_t i = 1;
    for (auto b : rest) p[i++] = b;
    return p;
}

class SimulatedCameraTest : public ::testing::Test {
  protected:
    SimulatedCamera camera{
        {.pacing = FramePacing::AsFastAsPossible, .exact = true, .scene = nullptr}};

    void send(const Packet& p) {
        auto result = camera.dataOut(kCommandEndpoint, p);
        ASSERT_EQ(result.handshake, UsbHandshake::Ack);
        ASSERT_EQ(result.bytes, p.size());
    }
    void askForFrame() {
        send(command(CommandCode::RequestFrame));
        send(command(CommandCode::RequestFrame));
        send(command(CommandCode::ReadsPosted));
    }
    host::UsbDataResult readReply(Packet& into) { return camera.dataIn(kReplyEndpoint, into); }
    std::vector<std::uint8_t> readWholeFrame() {
        std::vector<std::uint8_t> frame(kFrameBytes);
        std::size_t at = 0;
        while (at < kFrameBytes) {
            std::size_t chunk = std::min<std::size_t>(65536, kFrameBytes - at);
            auto result = camera.dataIn(kFrameEndpoint, std::span(frame.data() + at, chunk));
            EXPECT_EQ(result.handshake, UsbHandshake::Ack);
            EXPECT_EQ(result.bytes, chunk);
            if (result.handshake != UsbHandshake::Ack) break;
            at += result.bytes;
        }
        return frame;
    }
};

TEST_F(SimulatedCameraTest, WriteRegisterStoresTheValueBitsWithTheWidthCode) {
    send(command(CommandCode::WriteRegister, {0x10, 0x06, 0x14, 0x00, 0x00}));  // r6 = 5
    EXPECT_EQ(camera.registerEntry(6).value, 5u);
    EXPECT_EQ(camera.registerEntry(6).widthCode, 16);
    std::uint32_t word = (0x3FFFFFu << 10) | 393;  // r393 = 0x3FFFFF with code 32
    send(command(CommandCode::WriteRegister, {32, std::uint8_t(word), std::uint8_t(word >> 8),
                                              std::uint8_t(word >> 16), std::uint8_t(word >> 24)}));
    EXPECT_EQ(camera.registerEntry(393).value, 0x3FFFFFu);
    EXPECT_EQ(camera.registerEntry(393).widthCode, 32);
    EXPECT_FALSE(camera.registerEntry(7).written);
    EXPECT_EQ(RegisterFile::expectedWidthCode(255), 16);
    EXPECT_EQ(RegisterFile::expectedWidthCode(256), 26);
    EXPECT_EQ(RegisterFile::expectedWidthCode(383), 26);
    EXPECT_EQ(RegisterFile::expectedWidthCode(384), 32);
}

TEST_F(SimulatedCameraTest, ControlsAreKeptAndSelectorElevenIsTheTriggerMode) {
    send(command(CommandCode::Control, {1, 64}));
    send(command(CommandCode::Control, {kTriggerSelector, 1}));
    EXPECT_EQ(camera.controlValue(1), 64);
    EXPECT_TRUE(camera.externalTriggerMode());
    send(command(CommandCode::Control, {kTriggerSelector, 0}));
    EXPECT_FALSE(camera.externalTriggerMode());
}

TEST_F(SimulatedCameraTest, ClockQueryIsAnsweredByTwoPacketsWithTheModeInTheSecond) {
    camera.setClockMode(3);
    Packet reply{};
    EXPECT_EQ(readReply(reply).handshake, UsbHandshake::Nak) << "nothing before the query";
    send(command(CommandCode::ClockQuery, {0x0F}));
    auto first = readReply(reply);
    EXPECT_EQ(first.handshake, UsbHandshake::Ack);
    EXPECT_EQ(first.bytes, 64u);
    EXPECT_EQ(reply[0], 0x26);
    auto second = readReply(reply);
    EXPECT_EQ(second.bytes, 64u);
    EXPECT_EQ(reply[0], 3);
    EXPECT_EQ(readReply(reply).handshake, UsbHandshake::Nak);
}

TEST_F(SimulatedCameraTest, ReadByteAnswersFromCameraMemory) {
    camera.setMemory(0x1234, 0xA5);
    send(command(CommandCode::ReadByte, {0x51, 2, 1, 0x12, 0x34}));
    Packet reply{};
    readReply(reply);
    readReply(reply);
    EXPECT_EQ(reply[0], 0xA5);
}

TEST_F(SimulatedCameraTest, ReplyFaultsActOnceEach) {
    Packet reply{};
    camera.faults().failReply = true;
    send(command(CommandCode::ClockQuery, {0x0F}));
    EXPECT_EQ(readReply(reply).handshake, UsbHandshake::Error);
    auto second = readReply(reply);
    EXPECT_EQ(second.handshake, UsbHandshake::Ack) << "the fault was one-shot";

    camera.faults().shortReplyBytes = 10;
    send(command(CommandCode::ClockQuery, {0x0F}));
    auto shortened = readReply(reply);
    EXPECT_EQ(shortened.bytes, 10u);
    EXPECT_TRUE(shortened.shortPacket);
    EXPECT_EQ(readReply(reply).bytes, 64u);

    camera.faults().neverReply = true;
    send(command(CommandCode::ClockQuery, {0x0F}));
    EXPECT_EQ(readReply(reply).handshake, UsbHandshake::Nak);
    send(command(CommandCode::ClockQuery, {0x0F}));
    EXPECT_EQ(readReply(reply).handshake, UsbHandshake::Ack);
}

TEST_F(SimulatedCameraTest, EveryPacketIsLoggedInOrderWithItsTime) {
    auto before = host::UsbClock::now();
    send(command(CommandCode::Prepare));
    send(command(CommandCode::RawPacket, {1, 2, 3}));
    send(command(CommandCode::ClockQuery, {0x0F}));
    Packet reply{};
    readReply(reply);
    auto log = camera.packetLog().snapshot();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].bytes[0], 0x06);
    Packet raw = command(CommandCode::RawPacket, {1, 2, 3});
    EXPECT_EQ(log[1].bytes, std::vector<std::uint8_t>(raw.begin(), raw.end()));
    EXPECT_EQ(log[3].endpoint, kReplyEndpoint);
    EXPECT_GE(log[0].time, before);
    for (std::size_t i = 1; i < log.size(); ++i) EXPECT_GE(log[i].time, log[i - 1].time);
    EXPECT_EQ(camera.packetLog().countCommands(0x26), 1u);
    camera.packetLog().clear();
    EXPECT_TRUE(camera.packetLog().snapshot().empty());
}

// A camera that streams for hours keeps no log: commands still act and replies still come.
TEST(SimulatedCameraWithoutLog, AnswersAndLogsNothing) {
    SimulatedCamera camera({.exact = true, .scene = nullptr, .logPackets = false});
    ASSERT_EQ(camera.dataOut(kCommandEndpoint, command(CommandCode::ClockQuery, {0x0F})).handshake,
              UsbHandshake::Ack);
    Packet reply{};
    EXPECT_EQ(camera.dataIn(kReplyEndpoint, reply).handshake, UsbHandshake::Ack)
        << "the query is answered";
    EXPECT_TRUE(camera.packetLog().snapshot().empty());
}

TEST_F(SimulatedCameraTest, NoFrameIsSentUntilRequestedAndPosted) {
    std::vector<std::uint8_t> buffer(65536);
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).handshake, UsbHandshake::Nak);
    send(command(CommandCode::RequestFrame));
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).handshake, UsbHandshake::Nak);
    send(command(CommandCode::ReadsPosted));
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).handshake, UsbHandshake::Ack);
}

TEST_F(SimulatedCameraTest, AFrameIsTheRenderedSceneIn512BytePackets) {
    camera.setScene(makeMovingPattern());
    askForFrame();
    auto frame = readWholeFrame();
    EXPECT_EQ(frame, camera.renderFrame(0));
    EXPECT_EQ(decodeFrameNumber(frame, kSensorWidth), 0u);
    auto counters = camera.counters();
    EXPECT_EQ(counters.delivered, 1u);
    EXPECT_EQ(counters.packets, kFrameBytes / 512);
    askForFrame();
    EXPECT_EQ(decodeFrameNumber(readWholeFrame(), kSensorWidth), 1u);
}

TEST_F(SimulatedCameraTest, ExposureAndGainRegistersScaleThePicture) {
    camera.setExact(false);
    camera.setScene(makeMovingPattern());
    auto before = camera.renderFrame(0);
    send(command(CommandCode::WriteRegister, {0x10, 0x06, 0x00, 0, 0}));  // r6 = 0
    send(command(CommandCode::WriteRegister, {0x10, 0x07, 0x08, 0, 0}));  // r7 = 2: gain 128
    auto brighter = camera.renderFrame(0);
    std::size_t compared = 0;
    for (std::size_t i = 0; i < before.size(); i += 997) {
        if (before[i] < 20 || before[i] > 120) continue;
        EXPECT_NEAR(brighter[i], 2 * before[i], 3) << "sample " << i << ": gain 128 doubles it";
        ++compared;
    }
    EXPECT_GT(compared, 0u) << "the pattern has mid-level samples to compare";
}

TEST_F(SimulatedCameraTest, FramePipeFaults) {
    std::vector<std::uint8_t> buffer(65536, 0xEE);
    askForFrame();
    camera.faults().shortChunkBytes = 1000;
    auto shortened = camera.dataIn(kFrameEndpoint, buffer);
    EXPECT_EQ(shortened.bytes, 1000u);
    EXPECT_TRUE(shortened.shortPacket);
    camera.faults().failChunk = true;
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).handshake, UsbHandshake::Error);
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).bytes, 65536u) << "the next read is whole";

    camera.faults().stallFramePipe = true;
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).handshake, UsbHandshake::Stall);
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).handshake, UsbHandshake::Stall)
        << "halted until cleared";
    camera.clearHalt(kFrameEndpoint);
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).handshake, UsbHandshake::Ack);
}

TEST_F(SimulatedCameraTest, NeverAnswerSwallowsOneFrame) {
    std::vector<std::uint8_t> buffer(65536);
    camera.faults().neverAnswer = true;
    askForFrame();
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).handshake, UsbHandshake::Nak);
    askForFrame();
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).handshake, UsbHandshake::Ack);
}

TEST_F(SimulatedCameraTest, ExternalTriggerModeWaitsForTheTrigger) {
    std::vector<std::uint8_t> buffer(65536);
    send(command(CommandCode::Control, {kTriggerSelector, 1}));
    askForFrame();
    auto waiting = camera.dataIn(kFrameEndpoint, buffer);
    EXPECT_EQ(waiting.handshake, UsbHandshake::Nak);
    EXPECT_EQ(waiting.retryAt, host::UsbClock::time_point::max());
    camera.trigger();
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).handshake, UsbHandshake::Ack);
}

TEST_F(SimulatedCameraTest, FixedRateFramesAreDueOnTheGrid) {
    camera.setPacing(FramePacing::FixedRate, 10.0);
    send(command(CommandCode::SensorStart, {1}));
    askForFrame();  // slot 0 is running: due at once
    askForFrame();  // asked again within slot 0: waits for slot 1
    std::vector<std::uint8_t> buffer(65536);
    auto early = camera.dataIn(kFrameEndpoint, buffer);
    ASSERT_EQ(early.handshake, UsbHandshake::Nak);
    EXPECT_GT(early.retryAt, host::UsbClock::now());
    std::this_thread::sleep_until(early.retryAt);
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).handshake, UsbHandshake::Ack);
    EXPECT_EQ(camera.counters().missed, 0u);
}

TEST_F(SimulatedCameraTest, PortFaults) {
    camera.disablePort();
    EXPECT_TRUE(camera.portState().connected);
    EXPECT_FALSE(camera.portState().enabled);
    camera.resetPort();
    EXPECT_TRUE(camera.portState().enabled);
    camera.unplug();
    camera.resetPort();
    EXPECT_FALSE(camera.portState().connected);
    EXPECT_FALSE(camera.portState().enabled) << "a reset does not bring back an unplugged camera";
}

}  // namespace
}  // namespace bayercam::sim
