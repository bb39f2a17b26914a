// Cancel of pending transfers on the USB bus stand-in: every request completes exactly once,
// whether the cancel or the data wins.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "tests/host/usb/holding_bus_fixture.h"

namespace bayercam::host::testing {
namespace {

using namespace std::chrono_literals;

// Every way of ending reads the camera never answers completes each read once, with the status
// of what ended it; an abort and a deconfigure return only after every read has completed.
TEST_F(UsbBusTest, PendingReadsEndOnceWithTheStatusOfWhatEndedThem) {
    struct Ending {
        const char* name;
        std::function<void(ChunkedRead&)> act;
        bool synchronous;
        NTSTATUS status;
        USBD_STATUS usbd;
    };
    auto abort = [this](ChunkedRead&) {
        USBD_STATUS usbd = 0;
        ASSERT_EQ(client->pipeRequest(URB_FUNCTION_ABORT_PIPE, client->pipe(2), &usbd),
                  STATUS_SUCCESS);
        EXPECT_EQ(usbd, USBD_STATUS_SUCCESS);
    };
    auto deconfigure = [this](ChunkedRead&) { ASSERT_EQ(client->deconfigure(), STATUS_SUCCESS); };
    const Ending endings[] = {
        {"cancel", [](ChunkedRead& read) { read.cancelAll(); }, false, STATUS_CANCELLED,
         USBD_STATUS_CANCELED},
        {"abort", abort, true, STATUS_CANCELLED, USBD_STATUS_CANCELED},
        {"deconfigure", deconfigure, true, STATUS_CANCELLED, USBD_STATUS_CANCELED},
        {"port disabled", [this](ChunkedRead&) { camera->disablePort(); }, false,
         STATUS_UNSUCCESSFUL, USBD_STATUS_DEV_NOT_RESPONDING},
    };
    for (const Ending& ending : endings) {
        plugIn(options());
        ASSERT_EQ(client->configure(), STATUS_SUCCESS);
        PoolBuffer frame(sim::kFrameBytes);
        ChunkedRead read(bus->physicalDeviceObject(), client->pipe(2), frame.bytes,
                         sim::kFrameBytes);
        camera->faults().neverAnswer = true;
        postFrameReads(read);
        EXPECT_FALSE(read.waitAll(20)) << ending.name << ": reads stay pending";
        EXPECT_EQ(bus->pendingTransfers(), 22u) << ending.name;
        ending.act(read);
        ASSERT_TRUE(read.waitAll(ending.synchronous ? 0 : 10000)) << ending.name;
        for (std::size_t i = 0; i < read.chunks().size(); ++i) {
            EXPECT_EQ(read.chunks()[i]->completions.load(), 1) << ending.name << " chunk " << i;
            EXPECT_EQ(read.status(i), ending.status) << ending.name << " chunk " << i;
            EXPECT_EQ(read.usbdStatus(i), ending.usbd) << ending.name << " chunk " << i;
            EXPECT_EQ(read.moved(i), 0u) << ending.name << " chunk " << i;
        }
        EXPECT_EQ(bus->pendingTransfers(), 0u) << ending.name;
    }
}

TEST_F(UsbBusTest, CancelRacingWithStreamingLosesAndDoublesNothing) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    PoolBuffer frame(sim::kFrameBytes);
    std::size_t cancelled = 0;
    std::size_t succeeded = 0;
    for (int round = 0; round < 30; ++round) {
        ChunkedRead read(bus->physicalDeviceObject(), client->pipe(2), frame.bytes,
                         sim::kFrameBytes);
        sendCommand(sim::CommandCode::RequestFrame);
        sendCommand(sim::CommandCode::RequestFrame);
        read.post();
        // Round 0 cancels before the camera starts sending; the others cancel later and later
        // into the frame, racing with the bus thread's completions.
        auto delay = std::chrono::microseconds(150 * round);
        std::thread canceller([&read, delay] {
            std::this_thread::sleep_for(delay);
            read.cancelAll();
        });
        if (round == 0) canceller.join();
        sendCommand(sim::CommandCode::ReadsPosted);
        if (canceller.joinable()) canceller.join();
        ASSERT_TRUE(read.waitAll(10000)) << "round " << round;
        for (std::size_t i = 0; i < read.chunks().size(); ++i) {
            ASSERT_EQ(read.chunks()[i]->completions.load(), 1)
                << "round " << round << " chunk " << i;
            NTSTATUS status = read.status(i);
            if (status == STATUS_SUCCESS) {
                ++succeeded;
                EXPECT_EQ(read.moved(i), read.chunks()[i]->length);
            } else {
                ++cancelled;
                EXPECT_EQ(status, STATUS_CANCELLED) << "round " << round << " chunk " << i;
                EXPECT_EQ(read.usbdStatus(i), USBD_STATUS_CANCELED);
            }
        }
        EXPECT_EQ(bus->pendingTransfers(), 0u);
    }
    EXPECT_GT(cancelled, 0u) << "some cancels must have hit pending reads";
}

TEST_F(UsbBusTest, CancelOfAReadAlreadyCompletedChangesNothing) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    PoolBuffer frame(65536);
    ChunkedRead read(bus->physicalDeviceObject(), client->pipe(2), frame.bytes, 65536);
    postFrameReads(read);
    ASSERT_TRUE(read.waitAll(10000));
    read.cancelAll();
    EXPECT_EQ(read.chunks()[0]->completions.load(), 1);
    EXPECT_EQ(read.status(0), STATUS_SUCCESS);
    EXPECT_EQ(read.moved(0), 65536u);
}

TEST_F(UsbBusTest, AbortRacingWithStreamingCompletesAfterEveryTransfer) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    PoolBuffer frame(sim::kFrameBytes);
    for (int round = 0; round < 20; ++round) {
        ChunkedRead read(bus->physicalDeviceObject(), client->pipe(2), frame.bytes,
                         sim::kFrameBytes);
        postFrameReads(read);
        std::this_thread::sleep_for(std::chrono::microseconds(200 * round));
        ASSERT_EQ(client->pipeRequest(URB_FUNCTION_ABORT_PIPE, client->pipe(2)), STATUS_SUCCESS);
        ASSERT_TRUE(read.waitAll(0)) << "round " << round << ": the abort completed first";
        for (std::size_t i = 0; i < read.chunks().size(); ++i) {
            ASSERT_EQ(read.chunks()[i]->completions.load(), 1)
                << "round " << round << " chunk " << i;
            NTSTATUS status = read.status(i);
            EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_CANCELLED)
                << "round " << round << " chunk " << i << " status " << std::hex << status;
        }
    }
}

// The abort finds the bus thread inside an attempt on the pipe's only read, so it waits for that
// read. A read queued meanwhile is no part of the abort: the abort completes after the first read
// alone, and the second stays queued until it is cancelled.
TEST_F(UsbBusHoldingTest, AbortAwaitsOnlyTheTransfersQueuedBeforeIt) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    PDEVICE_OBJECT pdo = bus->physicalDeviceObject();
    PoolBuffer buffer(2 * 65536);
    ChunkedRead first(pdo, client->pipe(2), buffer.bytes, 65536);
    ChunkedRead second(pdo, client->pipe(2), buffer.bytes + 65536, 65536);
    AsyncPipeRequest abort(pdo, URB_FUNCTION_ABORT_PIPE, client->pipe(2));

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
    EXPECT_EQ(second.chunks()[0]->completions.load(), 0) << "the abort took the later read";
    second.cancelAll();
    ASSERT_TRUE(second.waitAll(10000));
    EXPECT_EQ(second.status(0), STATUS_CANCELLED);
    ASSERT_TRUE(aborted || abort.wait(10000)) << "the abort outlived every read";
    EXPECT_EQ(abort.status(), STATUS_SUCCESS);
    EXPECT_EQ(bus->pendingTransfers(), 0u);
}

}  // namespace
}  // namespace bayercam::host::testing
