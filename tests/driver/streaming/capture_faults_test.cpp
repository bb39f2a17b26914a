// The capture under faults: a camera that does not answer and then answers again, a camera
// that takes no commands, a stalled frame pipe, a camera unplugged while streaming and a
// grabber thread that cannot be created.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <span>
#include <thread>

#include "driver/usb/frame_transfer.h"
#include "host/kernel/failure_injection.h"
#include "tests/driver/streaming/capture_fixture.h"
#include "tests/support/deadline.h"

namespace bayercam::testing {
namespace {

using CaptureFaultTest = CaptureTest;
namespace injection = host::injection;

constexpr ULONG kFullFrame = 1360 * 1024 * 4;

constexpr auto kWait = std::chrono::seconds(5);

// A frame the camera never sends is dropped at the time-out; a stall fails the read it hits and
// halts the frame pipe, which must be reset or no frame could ever come again.
TEST_F(CaptureFaultTest, AMissingFrameOrAStalledPipeIsOvercomeAndTheStreamRecovers) {
    startStreaming();
    struct Fault {
        const char* what;
        std::atomic<bool> sim::FaultKnobs::*knob;
        LONG timeoutMs;
    };
    const Fault faults[] = {{"no answer", &sim::FaultKnobs::neverAnswer, 200},
                            {"stalled frame pipe", &sim::FaultKnobs::stallFramePipe, 2000}};
    for (auto [what, knob, timeoutMs] : faults) {
        StreamFrame frame;
        ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
        InterlockedExchange(&transferTimeoutMs, timeoutMs);
        camera->faults().*knob = true;
        ASSERT_TRUE(Eventually([&] { return !(camera->faults().*knob); }, kWait))
            << "the camera took the fault: " << what;
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS) << what;
            EXPECT_GE(matchingCameraFrame(frame), 0) << what;
        }
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
    ASSERT_TRUE(Eventually([&] { return controlSwallowed.load(); }, kWait))
        << "a read is under way";
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
