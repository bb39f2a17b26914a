// Frame reads against the simulated camera: chunk layout, data, time-out, failed and short
// chunks, and cancel and abort from another thread.
#include "driver/usb/frame_transfer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "driver/control/sensor.h"
#include "driver/usb/command_protocol.h"
#include "tests/support/camera_fixture.h"

namespace bayercam::testing {
namespace {

constexpr std::size_t kFrameBytes = 1392640;

class FrameTransferTest : public CameraTest {
  protected:
    void SetUp() override {
        CameraTest::SetUp();
        ASSERT_EQ(attach(), STATUS_SUCCESS);
        ASSERT_TRUE(StartSensor(device()));
        forget();
        frame.assign(kFrameBytes, 0);
    }

    NTSTATUS read(std::size_t bytes) {
        return ReadFrameChunked(device(), ULONG(bytes), frame.data());
    }

    // Starts a read of a whole frame on another thread and waits until all its chunks are
    // queued on the bus.
    std::future<NTSTATUS> readInBackground() {
        auto result = std::async(std::launch::async, [this] { return read(kFrameBytes); });
        while (bus->pendingTransfers() < 22)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return result;
    }

    // The chunks the bus asked the frame pipe for, as (offset in the buffer, length).
    std::vector<std::pair<std::size_t, std::size_t>> chunks() const {
        std::vector<std::pair<std::size_t, std::size_t>> layout;
        for (const FrameAttempt& a : observed->frameAttempts()) {
            layout.push_back({std::size_t(a.at - frame.data()), a.bytes});
        }
        return layout;
    }

    void expectIdle() const {
        EXPECT_EQ(device()->usb.transferSlots, nullptr);
        EXPECT_EQ(device()->usb.frameMdl, nullptr);
        EXPECT_EQ(bus->pendingTransfers(), 0u);
    }

    std::vector<std::uint8_t> frame;
};

TEST_F(FrameTransferTest, FullFrameIsTwentyTwoChunksAndCarriesTheCameraFrame) {
    bool ok = false;
    EXPECT_TRUE(ReadFrame(device(), frame.data(), &ok));
    EXPECT_TRUE(ok);
    const auto layout = chunks();
    ASSERT_EQ(layout.size(), 22u);
    for (std::size_t i = 0; i < 21; ++i) {
        EXPECT_EQ(layout[i], std::make_pair(i * 65536, std::size_t(65536))) << "chunk " << i;
    }
    EXPECT_EQ(layout[21], std::make_pair(std::size_t(1376256), std::size_t(16384)));
    EXPECT_TRUE(frame == camera->renderFrame(0)) << "the buffer holds frame 0 as sent";
    const std::vector<Packet> expected = {MakePacket({0x02}), MakePacket({0x02}),
                                          MakePacket({0x03})};
    EXPECT_EQ(commands(), expected) << "RequestFrame twice, then ReadsPosted";
    expectIdle();
}

// The camera sends 512-byte packets, which overflow a 1-byte chunk: that chunk fails.
TEST_F(FrameTransferTest, ChunkCountFollowsTheLength) {
    struct Case {
        std::size_t bytes;
        NTSTATUS status;
        std::size_t chunks;
        std::pair<std::size_t, std::size_t> last;
    };
    const Case cases[] = {{131072, STATUS_SUCCESS, 2, {65536, 65536}},
                          {131073, STATUS_UNSUCCESSFUL, 3, {131072, 1}}};
    for (const Case& c : cases) {
        const std::size_t before = chunks().size();
        EXPECT_EQ(read(c.bytes), c.status) << c.bytes << " bytes";
        const auto layout = chunks();
        ASSERT_EQ(layout.size() - before, c.chunks) << c.bytes << " bytes";
        EXPECT_EQ(layout.back(), c.last) << c.bytes << " bytes";
        expectIdle();
    }
}

// Each fails the read at once, not by the time-out, and leaves nothing behind; the next read
// gets a whole frame.
TEST_F(FrameTransferTest, FailedShortOrMissingChunksFailTheRead) {
    struct Case {
        const char* what;
        void (*fault)(sim::FaultKnobs&);
        NTSTATUS status;
    };
    const Case cases[] = {
        {"failed chunk", [](auto& f) { f.failChunk = true; }, STATUS_UNSUCCESSFUL},
        {"short chunk", [](auto& f) { f.shortChunkBytes = 1024; }, STATUS_UNSUCCESSFUL},
        {"no answer", [](auto& f) { f.neverAnswer = true; }, STATUS_TIMEOUT},
    };
    // Long enough for a whole frame in a sanitizer build on a busy machine.
    InterlockedExchange(&transferTimeoutMs, 1000);
    for (const Case& c : cases) {
        c.fault(camera->faults());
        EXPECT_EQ(read(kFrameBytes), c.status) << c.what;
        expectIdle();
        EXPECT_EQ(read(kFrameBytes), STATUS_SUCCESS) << "the frame after the " << c.what;
    }
}

// Ended by the other thread, not by the time-out.
TEST_F(FrameTransferTest, CancelOrAbortFromAnotherThreadEndsTheRead) {
    CameraOps* ops = device();
    const std::pair<const char*, std::function<void()>> endings[] = {
        {"cancel", [ops] { ops->CancelTransfers(); }},
        {"abort", [ops] { ops->AbortPipes(); }},
    };
    for (const auto& [what, end] : endings) {
        camera->faults().neverAnswer = true;
        auto result = readInBackground();
        end();
        EXPECT_EQ(result.get(), STATUS_UNSUCCESSFUL) << what;
        expectIdle();
        EXPECT_EQ(device()->usb.pipeInUse[FRAME_PIPE], 0) << what;
    }
}

}  // namespace
}  // namespace bayercam::testing
