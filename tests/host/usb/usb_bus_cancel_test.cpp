// Cancel of pending transfers on the USB bus stand-in: every request completes exactly once,
// whether the cancel or the data wins.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "tests/host/usb/usb_bus_fixture.h"

namespace bayercam::host::testing {
namespace {

constexpr ULONG kBufferTag = 'T' | ('s' << 8) | ('t' << 16) | ('C' << 24);

struct PoolBuffer {
    explicit PoolBuffer(std::size_t n)
        : bytes(static_cast<std::uint8_t*>(ExAllocatePoolWithTag(NonPagedPool, n, kBufferTag))) {
        std::memset(bytes, 0, n);
    }
    ~PoolBuffer() { ExFreePoolWithTag(bytes, kBufferTag); }
    std::uint8_t* bytes;
};

TEST_F(UsbBusTest, CancelCompletesEachPendingReadOnceAsCancelled) {
    ASSERT_EQ(client->configure(), STATUS_SUCCESS);
    PoolBuffer frame(sim::kFrameBytes);
    ChunkedRead read(bus->physicalDeviceObject(), client->pipe(2), frame.bytes, sim::kFrameBytes);
    camera->faults().neverAnswer = true;
    postFrameReads(read);
    EXPECT_FALSE(read.waitAll(20));
    read.cancelAll();
    ASSERT_TRUE(read.waitAll(10000));
    for (std::size_t i = 0; i < read.chunks().size(); ++i) {
        EXPECT_EQ(read.chunks()[i]->completions.load(), 1) << "chunk " << i;
        EXPECT_EQ(read.status(i), STATUS_CANCELLED) << "chunk " << i;
        EXPECT_EQ(read.usbdStatus(i), USBD_STATUS_CANCELED) << "chunk " << i;
        EXPECT_EQ(read.moved(i), 0u) << "chunk " << i;
    }
    EXPECT_EQ(bus->pendingTransfers(), 0u);
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

}  // namespace
}  // namespace bayercam::host::testing
