// The command packets on the wire, the reply exchange with its bound, and one exchange at a
// time per device.
#include "driver/usb/command_protocol.h"

#include <gtest/gtest.h>

#include <thread>

#include "driver/control/sensor.h"
#include "driver/usb/frame_transfer.h"
#include "sim/descriptors.h"
#include "tests/support/camera_fixture.h"

namespace bayercam::testing {
namespace {

class CommandProtocolTest : public CameraTest {
  protected:
    void SetUp() override {
        CameraTest::SetUp();
        ASSERT_EQ(attach(), STATUS_SUCCESS);
        forget();
    }
    Packet lastCommand() const {
        auto packets = commands();
        return packets.empty() ? Packet{} : packets.back();
    }
};

TEST_F(CommandProtocolTest, RegisterWritesByAddressRange) {
    struct Case {
        ULONG reg;
        LONG value;
        Packet wire;
    };
    const Case cases[] = {
        {6, 5, MakePacket({0x04, 0x10, 0x06, 0x14, 0x00, 0x00})},
        {255, 0x7F, MakePacket({0x04, 0x10, 0xFF, 0xFC, 0x00, 0x00})},
        {256, 0x12345, MakePacket({0x04, 0x1A, 0x00, 0x15, 0x8D, 0x00})},
        {383, 1, MakePacket({0x04, 0x1A, 0x7F, 0x05, 0x00, 0x00})},
        {384, 0x7FFFFF, MakePacket({0x04, 0x20, 0x80, 0xFD, 0xFF, 0xFF})},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(WriteSensorRegister(device(), c.reg, c.value)) << "register " << c.reg;
        EXPECT_EQ(lastCommand(), c.wire) << "register " << c.reg;
        EXPECT_EQ(device()->registerShadow[c.reg], ULONG(c.value))
            << "register " << c.reg << ": the shadow keeps the value unmasked";
    }
}

TEST_F(CommandProtocolTest, ControlAndQueryPackets) {
    EXPECT_TRUE(SendControl(device(), 1, 0x140));
    EXPECT_EQ(lastCommand(), MakePacket({0x25, 0x01, 0x40})) << "the value's low 8 bits";
    camera->setClockMode(2);
    EXPECT_EQ(QueryClock(device()), 2);
    EXPECT_EQ(lastCommand(), MakePacket({0x26, 0x0F}));
}

TEST_F(CommandProtocolTest, PipesPointingTheWrongWayAreRefusedAtOnce) {
    client->detachDevice(handle);
    // Commands on an IN endpoint, replies on an OUT one; a bound that the 400-odd writes of a
    // start would each wait for, were the pipes used.
    auto descriptor = sim::makeConfigurationDescriptor(sim::DescriptorVariant::Standard);
    std::swap(descriptor[9 + 9 + 2], descriptor[9 + 9 + 7 + 2]);
    observed->replaceConfiguration(descriptor);
    InterlockedExchange(&commandTimeoutMs, 5);
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    UCHAR packet[64] = {0x06};
    ULONG transferred = 99;
    EXPECT_EQ(TransferPacket(device(), COMMAND_PIPE, packet, &transferred),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(TransferPacket(device(), REPLY_PIPE, packet, &transferred), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(transferred, 0u);
    EXPECT_EQ(ReadFrameChunked(device(), 100, packet), STATUS_INVALID_PARAMETER)
        << "the transfer control packets would go to the IN pipe";
    EXPECT_TRUE(commands().empty());
}

// A short reply fails the query; one that never comes is cancelled at the bound. Either way the
// previous clock stays and the next exchange works.
TEST_F(CommandProtocolTest, AShortOrMissingReplyFailsOnlyItsQuery) {
    InterlockedExchange(&commandTimeoutMs, 250);
    camera->setClockMode(2);
    const std::pair<const char*, void (*)(sim::FaultKnobs&)> faults[] = {
        {"short reply", [](sim::FaultKnobs& f) { f.shortReplyBytes = 10; }},
        {"no reply", [](sim::FaultKnobs& f) { f.neverReply = true; }},
    };
    for (auto [what, fault] : faults) {
        fault(camera->faults());
        EXPECT_EQ(QueryClock(device()), 1) << what;
        EXPECT_EQ(bus->pendingTransfers(), 0u) << what;
        camera->faults().shortReplyBytes = 0;
    }
    EXPECT_EQ(QueryClock(device()), 2);
    camera->setClockMode(3);
    EXPECT_EQ(QueryClock(device()), 2) << "mode 3 is taken as 2";
}

// A query's replies land in commandPacket; a register write from another thread must not
// rebuild the packet between the query and its replies.
TEST_F(CommandProtocolTest, ExchangesOfOneDeviceDoNotInterleave) {
    camera->setClockMode(2);
    constexpr int kRounds = 150;
    int wrongClock = 0;
    std::thread writer([&] {
        for (int i = 0; i < kRounds; ++i) WriteSensorRegister(device(), 400 + i % 8, i);
    });
    for (int i = 0; i < kRounds; ++i) {
        if (QueryClock(device()) != 2) ++wrongClock;
    }
    writer.join();
    EXPECT_EQ(wrongClock, 0);
    for (int r = 0; r < 8; ++r) {
        int last = r;
        while (last + 8 < kRounds) last += 8;
        EXPECT_EQ(camera->registerEntry(400 + r).value, unsigned(last)) << "register " << 400 + r;
    }
}

}  // namespace
}  // namespace bayercam::testing
