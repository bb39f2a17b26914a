// The simulated camera through its USB function face, without a bus.
#include "sim/simulated_camera.h"

#include <gtest/gtest.h>

#include <functional>
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

// Every fault knob acts once (a stall until the halt is cleared), then the camera answers again.
TEST_F(SimulatedCameraTest, FaultKnobsActOnce) {
    Packet reply{};
    std::vector<std::uint8_t> buffer(65536);
    auto query = [&] { send(command(CommandCode::ClockQuery, {0x0F})); };
    auto frameRead = [&] { return camera.dataIn(kFrameEndpoint, buffer); };
    struct Case {
        const char* name;
        std::function<void()> arm;
        bool framePipe;
        UsbHandshake handshake;
        std::size_t bytes;
    };
    const Case cases[] = {
        {"fail reply", [&] { camera.faults().failReply = true; }, false, UsbHandshake::Error, 0},
        {"short reply", [&] { camera.faults().shortReplyBytes = 10; }, false, UsbHandshake::Ack,
         10},
        {"never reply", [&] { camera.faults().neverReply = true; }, false, UsbHandshake::Nak, 0},
        {"short chunk", [&] { camera.faults().shortChunkBytes = 1000; }, true, UsbHandshake::Ack,
         1000},
        {"fail chunk", [&] { camera.faults().failChunk = true; }, true, UsbHandshake::Error, 0},
        {"never answer", [&] { camera.faults().neverAnswer = true; }, true, UsbHandshake::Nak, 0},
        {"stall", [&] { camera.faults().stallFramePipe = true; }, true, UsbHandshake::Stall, 0},
    };
    for (const Case& c : cases) {
        auto ask = [&] { c.framePipe ? askForFrame() : query(); };
        auto attempt = [&] { return c.framePipe ? frameRead() : readReply(reply); };
        c.arm();
        ask();
        const host::UsbDataResult faulty = attempt();
        EXPECT_EQ(faulty.handshake, c.handshake) << c.name;
        EXPECT_EQ(faulty.bytes, c.handshake == UsbHandshake::Ack ? c.bytes : 0) << c.name;
        if (c.handshake == UsbHandshake::Stall) {
            EXPECT_EQ(attempt().handshake, UsbHandshake::Stall) << "halted until cleared";
            camera.clearHalt(kFrameEndpoint);
        }
        if (c.handshake == UsbHandshake::Nak) ask();
        EXPECT_EQ(attempt().handshake, UsbHandshake::Ack) << c.name << ": one-shot";
        while (readReply(reply).handshake == UsbHandshake::Ack) {
        }  // a new frame request drops the rest of this frame; the replies are drained here
    }
    camera.disablePort();
    EXPECT_FALSE(camera.portState().enabled);
    camera.resetPort();
    EXPECT_TRUE(camera.portState().enabled);
    camera.unplug();
    camera.resetPort();
    EXPECT_FALSE(camera.portState().connected) << "a reset does not bring back an unplugged camera";
}

// A frame is sent only once asked for and its reads posted (and, in trigger mode, triggered); it
// is the rendered scene, and exposure and gain scale it.
TEST_F(SimulatedCameraTest, FramesComeWhenAskedAsTheRenderedScene) {
    camera.setScene(makeMovingPattern());
    std::vector<std::uint8_t> buffer(65536);
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).handshake, UsbHandshake::Nak);
    send(command(CommandCode::RequestFrame));
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).handshake, UsbHandshake::Nak);
    send(command(CommandCode::RequestFrame));
    send(command(CommandCode::ReadsPosted));
    EXPECT_EQ(readWholeFrame(), camera.renderFrame(0));
    EXPECT_EQ(camera.counters().packets, kFrameBytes / 512);

    send(command(CommandCode::Control, {kTriggerSelector, 1}));
    askForFrame();
    EXPECT_EQ(camera.dataIn(kFrameEndpoint, buffer).retryAt, host::UsbClock::time_point::max());
    camera.trigger();
    EXPECT_EQ(decodeFrameNumber(readWholeFrame(), kSensorWidth), 1u);

    camera.setExact(false);
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

}  // namespace
}  // namespace bayercam::sim
