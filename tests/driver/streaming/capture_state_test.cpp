// The capture pin's states and the run behind them: two pins on one device, pause and resume,
// a new run after ACQUIRE, an absent consumer and short client frames, frame headers with and
// without a clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "driver/usb/command_protocol.h"
#include "tests/driver/streaming/capture_fixture.h"
#include "tests/support/deadline.h"

namespace bayercam::testing {
namespace {

using CaptureStateTest = CaptureTest;

constexpr ULONG kFullFrame = 1360 * 1024 * 4;

// Waits until the grabber has read at least `count` frames in this run.
bool WaitForFrames(FrameGrabber* grabber, LONG count) {
    return Eventually([&] { return Atomic(&grabber->framesGrabbed) >= count; },
                      std::chrono::seconds(5));
}

TEST_F(CaptureStateTest, AFormatOtherThanThirtyTwoBitsIsRefusedAtAcquire) {
    open();
    VideoFormat format = offeredFormat();
    format.VideoInfoHeader.bmiHeader.biBitCount = 24;
    ASSERT_EQ(createPin(format), STATUS_SUCCESS);
    EXPECT_EQ(setState(KSSTATE_ACQUIRE), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(device()->captureBusy, 0) << "the device is released again";
}

TEST_F(CaptureStateTest, ASecondPinOnTheDeviceIsRefusedAndTheFirstRunGoesOn) {
    open();
    host::ks::KsFilterHandle second = nullptr;
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &second), STATUS_SUCCESS);
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    host::ks::KsPinHandle other = nullptr;
    VideoFormat format = offeredFormat();
    ASSERT_EQ(client->createPin(second, 0, &format.DataFormat, &other), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(client->setPinState(other, KSSTATE_ACQUIRE), STATUS_SHARING_VIOLATION);
    EXPECT_EQ(device()->frameNotifier, context());
    StreamFrame frame;
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    EXPECT_GE(matchingCameraFrame(frame), 0);
    EXPECT_EQ(client->closePin(other), STATUS_SUCCESS);
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS) << "closing the other pin";
}

// A resume keeps the counters and the sensor as they were; a run after ACQUIRE starts the
// sensor again and counts from zero.
TEST_F(CaptureStateTest, PauseKeepsTheRunAndAcquireEndsIt) {
    startStreaming();
    ASSERT_TRUE(WaitForFrames(grabber(), 3));
    ASSERT_EQ(setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    const LONG grabbed = Atomic(&grabber()->framesGrabbed);
    const ULONG counted = device()->frameCount;
    const auto sensorStarted = [this] {
        for (const Packet& packet : commands()) {
            if (packet[0] != UCHAR(CommandCode::RequestFrame) &&
                packet[0] != UCHAR(CommandCode::ReadsPosted)) {
                return true;
            }
        }
        return false;
    };
    forget();
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_TRUE(WaitForFrames(grabber(), std::max<LONG>(grabbed + 2, 30)));
    StreamFrame frame;
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    EXPECT_GT(frame.frameInfo.PictureNumber, LONGLONG(counted)) << "frameCount keeps counting";
    EXPECT_FALSE(sensorStarted()) << "no sensor start on resume";
    ASSERT_EQ(setState(KSSTATE_ACQUIRE), STATUS_SUCCESS);
    forget();
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    EXPECT_LT(frame.frameInfo.PictureNumber, 30) << "frameCount restarted at 0";
    EXPECT_TRUE(sensorStarted()) << "a new run starts the sensor";
}

// A client frame too small for the picture comes back empty and untouched.
TEST_F(CaptureStateTest, WithoutAConsumerTheReadingGoesOnAndTheNextBufferGetsAFreshFrame) {
    startStreaming();
    ASSERT_TRUE(WaitForFrames(grabber(), 10)) << "nobody takes frames, the thread keeps reading";
    StreamFrame frame;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(nextFrame(kFullFrame - 4, &frame), STATUS_SUCCESS);
        EXPECT_EQ(frame.header.DataUsed, 0u);
        EXPECT_EQ(std::count(frame.data.begin(), frame.data.end(), 0),
                  std::ptrdiff_t(kFullFrame - 4))
            << "nothing written into a frame too small for the picture";
    }
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    EXPECT_GE(matchingCameraFrame(frame), 8) << "a recent frame, not the first one read";
}

TEST_F(CaptureStateTest, HeadersWithAClockCarryTimeFlagsAndFrameInfo) {
    startStreaming();
    StreamFrame frame;
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    EXPECT_EQ((std::array<LONGLONG, 5>{
                  frame.header.DataUsed, frame.header.Duration, frame.header.OptionsFlags,
                  frame.frameInfo.ExtendedHeaderSize, frame.frameInfo.DropCount}),
              (std::array<LONGLONG, 5>{kFullFrame, 333333, 0x110, 72, 0}));
    EXPECT_GE(frame.frameInfo.PictureNumber, 1);

    StreamFrame plain;
    do {
        ASSERT_EQ(nextFrame(kFullFrame, &plain, false), STATUS_SUCCESS);
    } while (plain.header.DataUsed == 0);
    EXPECT_FALSE(plain.hasFrameInfo) << "a 56-byte header gets no frame info";
    EXPECT_EQ(plain.header.OptionsFlags, 0x110u);
    EXPECT_GE(plain.header.PresentationTime.Time, frame.header.PresentationTime.Time);
}

TEST_F(CaptureStateTest, WithoutAClockFramesCarryTimeZeroAndNoFlags) {
    open();
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    // As if the clock could not be obtained at ACQUIRE.
    context()->referenceClock->Release();
    context()->referenceClock = nullptr;
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
    StreamFrame frame;
    ASSERT_EQ(nextPicture(kFullFrame, &frame), STATUS_SUCCESS);
    EXPECT_EQ(frame.header.PresentationTime.Time, 0);
    EXPECT_EQ(frame.header.OptionsFlags, 0u);
    EXPECT_EQ(frame.frameInfo.ExtendedHeaderSize, 0u) << "frame info untouched";
    EXPECT_EQ(frame.header.Duration, 333333);
}

}  // namespace
}  // namespace bayercam::testing
