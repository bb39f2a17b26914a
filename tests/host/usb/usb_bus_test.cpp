// The USB bus stand-in itself: an abort waits only for what was queued before it, a request
// queued while the bus thread is busy is still moved, and requests the bus cannot serve are
// refused. Cancel, abort, stalls, unplugs and the chunked frame read are tested with the driver.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "tests/host/usb/usb_bus_fixture.h"

namespace bayercam::host::testing {
namespace {

using namespace std::chrono_literals;

// The abort finds the bus thread inside an attempt on the pipe's only read, so it waits for that
// read. A read queued meanwhile is no part of the abort: the abort completes after the first read
// alone, and the second stays queued until it is cancelled.
TEST_F(UsbBusTest, AbortAwaitsOnlyTheTransfersQueuedBeforeIt) {
    std::vector<std::uint8_t> buffer(2 * 65536);
    PendingTransfer first(pdo(), pipe(2), buffer.data(), 65536, true);
    PendingTransfer second(pdo(), pipe(2), buffer.data() + 65536, 65536, true);
    PendingTransfer abort(pdo(), URB_FUNCTION_ABORT_PIPE, pipe(2));

    holding->holdNextIn(sim::kFrameEndpoint);
    first.send();
    ASSERT_TRUE(holding->waitHeld(10s)) << "the bus thread never tried the frame pipe";
    EXPECT_EQ(abort.send(), STATUS_PENDING) << "the abort must wait for the read in progress";
    second.send();
    holding->release();

    ASSERT_TRUE(first.wait(10000));
    EXPECT_EQ(first.status(), STATUS_CANCELLED);
    const bool aborted = abort.wait(10000);
    EXPECT_TRUE(aborted) << "the abort waited for the read queued after it";
    EXPECT_FALSE(second.done()) << "the abort took the later read";
    second.cancel();
    ASSERT_TRUE(second.wait(10000));
    EXPECT_EQ(second.status(), STATUS_CANCELLED);
    ASSERT_TRUE(aborted || abort.wait(10000)) << "the abort outlived every read";
    EXPECT_EQ(abort.status(), STATUS_SUCCESS);
}

// A camera plugged in again where it was gets its old instance path, and so its stored
// settings; two cameras at once get two.
TEST_F(UsbBusTest, ANewBusTakesTheLowestFreePort) {
    sim::SimulatedCamera second;
    std::wstring secondPath;
    {
        const UsbBus other(second);
        secondPath = other.instancePath();
        EXPECT_NE(secondPath, bus->instancePath());
    }
    const UsbBus again(second);
    EXPECT_EQ(again.instancePath(), secondPath);
}

// The bus thread looks at the command pipe, then tries the reply pipe, which has nothing yet. A
// command queued during that attempt must still be sent: nothing else will wake the thread, and
// the reply read waits for the command's answer.
TEST_F(UsbBusTest, CommandQueuedDuringAFruitlessReplyAttemptIsSent) {
    std::uint8_t reply[64] = {};
    std::uint8_t command[64] = {static_cast<std::uint8_t>(sim::CommandCode::ClockQuery)};
    PendingTransfer replyRead(pdo(), pipe(1), reply, 64, true);
    PendingTransfer commandWrite(pdo(), pipe(0), command, 64, false);

    holding->holdNextIn(sim::kReplyEndpoint);
    replyRead.send();
    ASSERT_TRUE(holding->waitHeld(10s)) << "the bus thread never tried the reply pipe";
    EXPECT_EQ(commandWrite.send(), STATUS_PENDING);
    holding->release();

    const bool sent = commandWrite.wait(10000);
    const bool answered = sent && replyRead.wait(10000);
    if (!answered) {
        commandWrite.cancel();
        replyRead.cancel();
        commandWrite.wait(10000);
        replyRead.wait(10000);
    }
    ASSERT_TRUE(sent) << "the command queued during the attempt was never sent";
    ASSERT_TRUE(answered) << "the reply read was never answered";
    EXPECT_EQ(replyRead.moved(), 64u);
    EXPECT_EQ(reply[0], command[0]) << "the first reply packet echoes the query";
}

TEST_F(UsbBusTest, RequestsTheBusCannotServeAreRefused) {
    struct Case {
        const char* name;
        USHORT function;
        USHORT length;  // the URB header's length
        bool knownPipe;
        USBD_STATUS usbd;
        const char* verifier;  // the report it raises, if any
    };
    const Case cases[] = {
        {"unknown function", 0x0077, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER), true,
         USBD_STATUS_INVALID_URB_FUNCTION, "not implemented"},
        {"unknown pipe", URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER,
         sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER), false, USBD_STATUS_INVALID_PIPE_HANDLE, nullptr},
        {"URB shorter than its request", URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER,
         sizeof(_URB_PIPE_REQUEST), true, USBD_STATUS_INVALID_PARAMETER, "below the 128 bytes"},
    };
    for (const Case& c : cases) {
        std::uint8_t packet[64] = {};
        URB urb{};
        UsbBuildInterruptOrBulkTransferRequest(
            &urb, c.length, c.knownPipe ? pipe(0) : reinterpret_cast<USBD_PIPE_HANDLE>(0x1234),
            packet, nullptr, sizeof(packet), USBD_SHORT_TRANSFER_OK, nullptr);
        urb.UrbHeader.Function = c.function;
        EXPECT_EQ(SubmitUrbSync(&usb, &urb), STATUS_INVALID_PARAMETER) << c.name;
        EXPECT_EQ(urb.UrbHeader.Status, c.usbd) << c.name;
        if (c.verifier != nullptr) expectVerifierFailure(c.verifier);
    }
    EXPECT_EQ(camera->packetLog().snapshot().size(), 0u) << "nothing reached the camera";
}

}  // namespace
}  // namespace bayercam::host::testing
