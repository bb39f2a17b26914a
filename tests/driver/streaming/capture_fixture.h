// The driver over the simulated camera with the capture pin reached the way a client reaches
// it: a filter, an intersected format, a pin, its states and its frames. Short frame time-outs
// and a camera that sends frames as fast as it can.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "driver/streaming/capture_pin.h"
#include "driver/streaming/frame_grabber.h"
#include "host/ks/frame_queue.h"
#include "tests/support/camera_fixture.h"

namespace bayercam::testing {

using host::ks::StreamFrame;
using VideoFormat = KS_DATAFORMAT_VIDEOINFOHEADER;

// The colour settings a reference conversion uses, as the device holds them.
struct PictureSettings {
    LONG colorEnable = 1;
    LONG whiteBalance = 0;
    LONG redGain = 128;
    LONG greenGain = 128;
    LONG blueGain = 128;
};

struct Region {
    LONG x = 0;
    LONG y = 0;
    LONG width = SENSOR_WIDTH;
    LONG height = SENSOR_HEIGHT;
};

// A field the driver's threads change, read atomically.
inline LONG Atomic(volatile LONG* field) { return InterlockedCompareExchange(field, 0, 0); }

// Sets the device's region as a region request does, under the settings lock.
void SetRegion(CameraDevice* device, const Region& region);

// The converted picture (rows packed, image row 0 first) that the scalar reference kernels make
// of a raw frame, with the region cut out as the driver cuts it.
std::vector<std::uint8_t> ReferencePicture(const std::vector<std::uint8_t>& raw,
                                           const Region& region, const PictureSettings& settings);

// The client frame the delivery makes of a converted picture: outputWidth pixels of each row,
// rows `step` bytes apart, last row first unless flipV, mirrored when flipH.
std::vector<std::uint8_t> ExpectedClientFrame(const std::vector<std::uint8_t>& picture,
                                              const Region& region, ULONG frameBytes, LONG step,
                                              bool flipH, bool flipV);

// The frame number of the camera frame whose reference gives exactly this client frame,
// searched around the frame's picture number; -1 when none of the recent frames does.
std::int64_t MatchingCameraFrame(const sim::SimulatedCamera& camera, const StreamFrame& frame,
                                 const Region& region, const PictureSettings& settings, LONG step,
                                 bool flipH, bool flipV);

class CaptureTest : public CameraTest {
  protected:
    void SetUp() override;

    // Attaches the camera and opens one filter; fails the test otherwise.
    void open();
    // open(), then a pin of the offered format in KSSTATE_RUN.
    void startStreaming();
    // The range the device's pin offers now.
    const KS_DATARANGE_VIDEO& offeredRange() const;
    // Intersects the offered range (or the given one) and returns the format written.
    NTSTATUS intersect(const KS_DATARANGE_VIDEO& range, VideoFormat* format);
    VideoFormat offeredFormat();
    NTSTATUS createPin(const VideoFormat& format);
    NTSTATUS createPin() { return createPin(offeredFormat()); }
    NTSTATUS setState(KSSTATE state) { return client->setPinState(pin, state); }
    PinContext* context() const;
    FrameGrabber* grabber() const { return device()->frameGrabber; }
    // Queues one frame of `bytes` and waits for it to come back.
    NTSTATUS nextFrame(ULONG bytes, StreamFrame* frame, bool withFrameInfo = true);
    // Queues and takes frames until one carries a picture (DataUsed != 0).
    NTSTATUS nextPicture(ULONG bytes, StreamFrame* frame);
    // MatchingCameraFrame on this test's camera, the rows as long as the frame holds them.
    std::int64_t matchingCameraFrame(const StreamFrame& frame, const Region& region = {},
                                     const PictureSettings& settings = {}, bool flipH = false,
                                     bool flipV = false) {
        if (frame.data.empty()) return -1;
        const auto step = LONG(frame.data.size() / std::size_t(region.height));
        return MatchingCameraFrame(*camera, frame, region, settings, step, flipH, flipV);
    }

    std::chrono::milliseconds frameWait{3000};
    host::ks::KsFilterHandle filter = nullptr;
    host::ks::KsPinHandle pin = nullptr;
};

}  // namespace bayercam::testing
