// Waking the USB bus stand-in's thread: a transfer queued while the thread is busy elsewhere is
// moved without any later event to prompt it.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/host/usb/holding_bus_fixture.h"

namespace bayercam::host::testing {
namespace {

using namespace std::chrono_literals;

// The bus thread looks at the command pipe, then tries the reply pipe, which has nothing yet and
// no time to try again. A command queued during that attempt must still be sent: nothing else
// will wake the thread, and the reply read waits for the command's answer.
TEST_F(UsbBusHoldingTest, CommandQueuedDuringAFruitlessReplyAttemptIsSent) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    PDEVICE_OBJECT pdo = bus->physicalDeviceObject();
    PoolBuffer reply(64);
    PoolBuffer command(64);
    command.bytes[0] = static_cast<std::uint8_t>(sim::CommandCode::ClockQuery);
    command.bytes[1] = 0x0F;
    ChunkedRead replyRead(pdo, client->pipe(1), reply.bytes, 64, kInFlags);
    ChunkedRead commandWrite(pdo, client->pipe(0), command.bytes, 64, kOutFlags);

    holding->holdNextIn(sim::kReplyEndpoint);
    ASSERT_EQ(replyRead.post(), 1u);
    ASSERT_TRUE(holding->waitHeld(10s)) << "the bus thread never tried the reply pipe";
    ASSERT_EQ(commandWrite.post(), 1u);
    EXPECT_EQ(commandWrite.chunks()[0]->callStatus, STATUS_PENDING);
    holding->release();

    bool sent = commandWrite.waitAll(10000);
    bool answered = sent && replyRead.waitAll(10000);
    if (!sent || !answered) {
        commandWrite.cancelAll();
        replyRead.cancelAll();
        commandWrite.waitAll(10000);
        replyRead.waitAll(10000);
    }
    ASSERT_TRUE(sent) << "the command queued during the attempt was never sent";
    ASSERT_TRUE(answered) << "the reply read was never answered";
    EXPECT_EQ(commandWrite.status(0), STATUS_SUCCESS);
    EXPECT_EQ(commandWrite.moved(0), 64u);
    EXPECT_EQ(replyRead.status(0), STATUS_SUCCESS);
    EXPECT_EQ(replyRead.moved(0), 64u);
    EXPECT_EQ(reply.bytes[0], command.bytes[0]) << "the first reply packet echoes the query";
    EXPECT_EQ(bus->pendingTransfers(), 0u);
}

}  // namespace
}  // namespace bayercam::host::testing
