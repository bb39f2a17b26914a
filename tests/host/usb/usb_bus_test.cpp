// The USB bus stand-in itself: every pending transfer completes exactly once whatever ends it,
// an abort waits only for what was queued before it, a request queued while the bus thread is
// busy is still moved, and requests the bus cannot serve are refused. What the driver makes of
// stalls, unplugs and short chunks is tested with the driver.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "tests/host/usb/usb_bus_fixture.h"

namespace bayercam::host::testing {
namespace {

using namespace std::chrono_literals;

TEST_F(UsbBusTest, PendingReadsEndOnceWithTheStatusOfWhatEndedThem) {
    struct Ending {
        const char* name;
        std::function<void(ChunkedRead&)> act;
        bool synchronous;  // the act returns only after every read completed
        NTSTATUS status;
        USBD_STATUS usbd;
    };
    auto abort = [this](ChunkedRead&) {
        AsyncPipeRequest request(pdo(), URB_FUNCTION_ABORT_PIPE, pipe(2));
        request.send();
        ASSERT_TRUE(request.wait(10000));
        EXPECT_EQ(request.status(), STATUS_SUCCESS);
    };
    const Ending endings[] = {
        {"cancel", [](ChunkedRead& read) { read.cancelAll(); }, false, STATUS_CANCELLED,
         USBD_STATUS_CANCELED},
        {"abort", abort, true, STATUS_CANCELLED, USBD_STATUS_CANCELED},
        {"deconfigure", [this](ChunkedRead&) { DeconfigureDevice(&usb); }, true, STATUS_CANCELLED,
         USBD_STATUS_CANCELED},
        {"port disabled", [this](ChunkedRead&) { camera->disablePort(); }, false,
         STATUS_UNSUCCESSFUL, USBD_STATUS_DEV_NOT_RESPONDING},
    };
    for (const Ending& ending : endings) {
        ASSERT_NO_FATAL_FAILURE(plugIn());
        PoolBuffer frame(sim::kFrameBytes);
        ChunkedRead read(pdo(), pipe(2), frame.bytes, sim::kFrameBytes);
        camera->faults().neverAnswer = true;
        postFrameReads(read);
        EXPECT_FALSE(read.waitAll(20)) << ending.name << ": reads stay pending";
        ending.act(read);
        ASSERT_TRUE(read.waitAll(ending.synchronous ? 0 : 10000)) << ending.name;
        for (std::size_t i = 0; i < read.size(); ++i) {
            EXPECT_EQ(read.completions(i), 1) << ending.name << " chunk " << i;
            EXPECT_EQ(read.status(i), ending.status) << ending.name << " chunk " << i;
            EXPECT_EQ(read.usbdStatus(i), ending.usbd) << ending.name << " chunk " << i;
            EXPECT_EQ(read.moved(i), 0u) << ending.name << " chunk " << i;
        }
        EXPECT_EQ(bus->pendingTransfers(), 0u) << ending.name;
    }
}

TEST_F(UsbBusTest, CancelRacingWithStreamingLosesAndDoublesNothing) {
    PoolBuffer frame(sim::kFrameBytes);
    std::size_t cancelled = 0;
    for (int round = 0; round < 30; ++round) {
        ChunkedRead read(pdo(), pipe(2), frame.bytes, sim::kFrameBytes);
        sendCommand(sim::CommandCode::RequestFrame);
        sendCommand(sim::CommandCode::RequestFrame);
        read.post();
        // Round 0 cancels before the camera starts sending; the others cancel later and later
        // into the frame, racing with the bus thread's completions.
        std::thread canceller([&read, delay = std::chrono::microseconds(150 * round)] {
            std::this_thread::sleep_for(delay);
            read.cancelAll();
        });
        if (round == 0) canceller.join();
        sendCommand(sim::CommandCode::ReadsPosted);
        if (canceller.joinable()) canceller.join();
        ASSERT_TRUE(read.waitAll(10000)) << "round " << round;
        for (std::size_t i = 0; i < read.size(); ++i) {
            ASSERT_EQ(read.completions(i), 1) << "round " << round << " chunk " << i;
            if (read.status(i) == STATUS_SUCCESS) {
                EXPECT_EQ(read.moved(i), read.asked(i));
            } else {
                ++cancelled;
                EXPECT_EQ(read.status(i), STATUS_CANCELLED) << "round " << round << " chunk " << i;
                EXPECT_EQ(read.usbdStatus(i), USBD_STATUS_CANCELED);
            }
        }
        EXPECT_EQ(bus->pendingTransfers(), 0u);
    }
    EXPECT_GT(cancelled, 0u) << "some cancels must have hit pending reads";
}

// The abort finds the bus thread inside an attempt on the pipe's only read, so it waits for that
// read. A read queued meanwhile is no part of the abort: the abort completes after the first read
// alone, and the second stays queued until it is cancelled.
TEST_F(UsbBusTest, AbortAwaitsOnlyTheTransfersQueuedBeforeIt) {
    ASSERT_NO_FATAL_FAILURE(plugIn(true));
    PoolBuffer buffer(2 * 65536);
    ChunkedRead first(pdo(), pipe(2), buffer.bytes, 65536);
    ChunkedRead second(pdo(), pipe(2), buffer.bytes + 65536, 65536);
    AsyncPipeRequest abort(pdo(), URB_FUNCTION_ABORT_PIPE, pipe(2));

    holding->holdNextIn(sim::kFrameEndpoint);
    ASSERT_EQ(first.post(), 1u);
    ASSERT_TRUE(holding->waitHeld(10s)) << "the bus thread never tried the frame pipe";
    EXPECT_EQ(abort.send(), STATUS_PENDING) << "the abort must wait for the read in progress";
    ASSERT_EQ(second.post(), 1u);
    holding->release();

    ASSERT_TRUE(first.waitAll(10000));
    EXPECT_EQ(first.status(0), STATUS_CANCELLED);
    bool aborted = abort.wait(10000);
    EXPECT_TRUE(aborted) << "the abort waited for the read queued after it";
    EXPECT_EQ(second.completions(0), 0) << "the abort took the later read";
    second.cancelAll();
    ASSERT_TRUE(second.waitAll(10000));
    EXPECT_EQ(second.status(0), STATUS_CANCELLED);
    ASSERT_TRUE(aborted || abort.wait(10000)) << "the abort outlived every read";
    EXPECT_EQ(abort.status(), STATUS_SUCCESS);
}

// The bus thread looks at the command pipe, then tries the reply pipe, which has nothing yet. A
// command queued during that attempt must still be sent: nothing else will wake the thread, and
// the reply read waits for the command's answer.
TEST_F(UsbBusTest, CommandQueuedDuringAFruitlessReplyAttemptIsSent) {
    ASSERT_NO_FATAL_FAILURE(plugIn(true));
    PoolBuffer reply(64);
    PoolBuffer command(64);
    command.bytes[0] = static_cast<std::uint8_t>(sim::CommandCode::ClockQuery);
    ChunkedRead replyRead(pdo(), pipe(1), reply.bytes, 64, kInFlags);
    ChunkedRead commandWrite(pdo(), pipe(0), command.bytes, 64, kOutFlags);

    holding->holdNextIn(sim::kReplyEndpoint);
    ASSERT_EQ(replyRead.post(), 1u);
    ASSERT_TRUE(holding->waitHeld(10s)) << "the bus thread never tried the reply pipe";
    ASSERT_EQ(commandWrite.post(), 1u);
    EXPECT_EQ(commandWrite.callStatus(0), STATUS_PENDING);
    holding->release();

    bool sent = commandWrite.waitAll(10000);
    bool answered = sent && replyRead.waitAll(10000);
    if (!answered) {
        commandWrite.cancelAll();
        replyRead.cancelAll();
        commandWrite.waitAll(10000);
        replyRead.waitAll(10000);
    }
    ASSERT_TRUE(sent) << "the command queued during the attempt was never sent";
    ASSERT_TRUE(answered) << "the reply read was never answered";
    EXPECT_EQ(replyRead.moved(0), 64u);
    EXPECT_EQ(reply.bytes[0], command.bytes[0]) << "the first reply packet echoes the query";
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
        _URB_BULK_OR_INTERRUPT_TRANSFER urb{};
        urb.Hdr.Length = c.length;
        urb.Hdr.Function = c.function;
        urb.PipeHandle = c.knownPipe ? pipe(0) : reinterpret_cast<USBD_PIPE_HANDLE>(0x1234);
        urb.TransferBuffer = packet;
        urb.TransferBufferLength = sizeof(packet);
        EXPECT_EQ(submit(urb), STATUS_INVALID_PARAMETER) << c.name;
        EXPECT_EQ(urb.Hdr.Status, c.usbd) << c.name;
        if (c.verifier != nullptr) expectVerifierFailure(c.verifier);
    }
    EXPECT_EQ(camera->packetLog().snapshot().size(), 0u) << "nothing reached the camera";
}

}  // namespace
}  // namespace bayercam::host::testing
