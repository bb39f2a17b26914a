// The simulated camera through its USB function face, without a bus. Its fault knobs are tested
// where a user would notice them: with the driver reading through the bus.
#include "sim/simulated_camera.h"

#include <gtest/gtest.h>

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
    std::vector<std::uint8_t> readWholeFrame() {
        std::vector<std::uint8_t> frame(kFrameBytes);
        for (std::size_t at = 0; at < kFrameBytes; at += 65536) {
            const std::size_t chunk = std::min<std::size_t>(65536, kFrameBytes - at);
            auto result = camera.dataIn(kFrameEndpoint, std::span(frame.data() + at, chunk));
            if (result.handshake == UsbHandshake::Ack && result.bytes == chunk) continue;
            ADD_FAILURE() << "the chunk at " << at << " did not come whole";
            break;
        }
        return frame;
    }
};

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

}  // namespace
}  // namespace bayercam::sim
