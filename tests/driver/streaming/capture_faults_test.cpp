// The capture under faults: a camera that does not answer and then answers again, a camera
// that takes no commands, a camera unplugged while streaming, failing reads, a start without a
// frame size and a grabber thread that cannot be created.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <span>
#include <thread>

#include "driver/usb/frame_transfer.h"
#include "host/kernel/failure_injection.h"
#include "tests/driver/streaming/capture_fixture.h"

namespace bayercam::testing {
namespace {

using CaptureFaultTest = CaptureTest;
namespace injection = host::injection;

constexpr ULONG kFullFrame = 1360 * 1024 * 4;

// Polls until the condition holds, for at most five seconds.
template <class Condition>
bool waitUntil(Condition condition) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST_F(CaptureFaultTest, AFrameTheCameraNeverSendsIsDroppedAndTheStreamRecovers) {
    startStreaming();
    StreamFrame frame;
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    InterlockedExchange(&transferTimeoutMs, 200);
    camera->faults().neverAnswer = true;
    ASSERT_TRUE(waitUntil([&] { return !camera->faults().neverAnswer; }))
        << "the camera took the fault";
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS) << "picture " << i;
        EXPECT_GE(matchingCameraFrame(frame, Region{}, PictureSettings{}, 1360 * 4, false, false),
                  0);
    }
}

// A stall fails the read it hits and halts the frame pipe: the pipe is reset, or no frame could
// ever come again.
TEST_F(CaptureFaultTest, AStalledFramePipeIsResetAndTheStreamRecovers) {
    startStreaming();
    StreamFrame frame;
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    camera->faults().stallFramePipe = true;
    ASSERT_TRUE(waitUntil([&] { return !camera->faults().stallFramePipe; }))
        << "the camera took the fault";
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS) << "picture " << i;
        EXPECT_GE(matchingCameraFrame(frame, Region{}, PictureSettings{}, 1360 * 4, false, false),
                  0);
    }
}

// The frame-control packets before a read are bounded like every command: a camera that takes
// no more commands cannot hold the grabber, nor the stop that waits for it.
TEST_F(CaptureFaultTest, ACameraThatTakesNoCommandsStillLetsTheStreamStop) {
    startStreaming();
    StreamFrame frame;
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    std::atomic<bool> controlSwallowed{false};
    observed->refuseCommands([&](std::span<const std::uint8_t> packet) {
        if (packet.data() == device()->transferControlPacket) controlSwallowed = true;
        return false;
    });
    camera->faults().swallowCommands = true;
    ASSERT_TRUE(waitUntil([&] { return controlSwallowed.load(); })) << "a read is under way";
    ASSERT_EQ(setState(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(grabber()->thread, nullptr);
    camera->faults().swallowCommands = false;
    observed->refuseCommands(nullptr);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS) << "the next run streams again";
}

TEST_F(CaptureFaultTest, UnplugWhileStreamingStopsCleanly) {
    startStreaming();
    StreamFrame frame;
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    camera->unplug();
    // Reads now fail at once; the grabber keeps trying without spinning until the stop.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(client->queueFrame(pin, kFullFrame), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(grabber()->thread, nullptr);
    EXPECT_EQ(grabber()->rawBuffer0, nullptr);
    EXPECT_EQ(device()->captureBusy, 0);
    EXPECT_EQ(client->closePin(pin), STATUS_SUCCESS);
    EXPECT_EQ(device()->roiLocked, 0);
}

// Every frame read fails at once: after each failure the grabber pauses before it tries again,
// so over a window it makes at most one read per pause instead of reading in a busy loop.
TEST_F(CaptureFaultTest, AGrabberWhoseReadsFailAtOncePausesBetweenThem) {
    open();
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    std::atomic<int> reads{0};
    observed->refuseCommands([&reads](std::span<const std::uint8_t> packet) {
        if (!packet.empty() && packet[0] == std::uint8_t(sim::CommandCode::ReadsPosted)) ++reads;
        return false;
    });
    observed->failFrameReads(true);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_TRUE(waitUntil([&] { return reads >= 2; })) << "the grabber reads";
    const int before = reads;
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int made = reads - before;
    const double window =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    // One read may be under way at each end of the window; every other one follows a pause.
    const int most = static_cast<int>(window / 10.0) + 2;
    EXPECT_LE(made, most) << "reads in " << window << " ms; a busy loop makes many more";
    ASSERT_TRUE(waitUntil([&] { return reads > before + made; })) << "the grabber keeps trying";
    ASSERT_EQ(setState(KSSTATE_STOP), STATUS_SUCCESS);
    observed->refuseCommands(nullptr);
    observed->failFrameReads(false);
    EXPECT_EQ(grabber()->thread, nullptr);
}

// The sensor start sets the raw frame size before it sends SensorStart; taking the size away
// there makes the start see a size of 0, which it refuses before taking anything.
TEST_F(CaptureFaultTest, ACaptureStartWithARawFrameSizeOfZeroFailsAndTakesNothing) {
    open();
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    observed->refuseCommands([this](std::span<const std::uint8_t> packet) {
        if (!packet.empty() && packet[0] == std::uint8_t(sim::CommandCode::SensorStart)) {
            device()->rawFrameSize = 0;
        }
        return false;
    });
    const NTSTATUS status = setState(KSSTATE_RUN);
    observed->refuseCommands(nullptr);
    EXPECT_FALSE(NT_SUCCESS(status)) << "status " << std::hex << status;
    EXPECT_EQ(grabber()->rawBuffer0, nullptr);
    EXPECT_EQ(grabber()->rawBuffer1, nullptr);
    EXPECT_EQ(grabber()->rgbFrame, nullptr);
    EXPECT_EQ(grabber()->thread, nullptr) << "no thread reads into buffers that do not exist";
    EXPECT_EQ(context()->streamState, 0);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS) << "the next start has its frame size";
    StreamFrame frame;
    EXPECT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
}

TEST_F(CaptureFaultTest, AGrabberThreadThatCannotBeCreatedDeliversNothingUntilTheNextRun) {
    open();
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    injection::failNthOfTag(injection::kThreadSite, 1);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS) << "a failed thread creation is not reported";
    EXPECT_EQ(grabber()->thread, nullptr);
    ASSERT_EQ(setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_NE(grabber()->thread, nullptr) << "the resume starts a thread";
    StreamFrame frame;
    EXPECT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
}

}  // namespace
}  // namespace bayercam::testing
