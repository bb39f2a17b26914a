#include "tests/driver/streaming/capture_fixture.h"

#include <chrono>
#include <cstring>
#include <map>

#include "driver/control/region_of_interest.h"
#include "driver/pixel/pixel_kernels.h"
#include "driver/streaming/color_pipeline.h"
#include "driver/usb/frame_transfer.h"

namespace bayercam::testing {

std::vector<std::uint8_t> ReferencePicture(const std::vector<std::uint8_t>& raw,
                                           const Region& region, const PictureSettings& settings) {
    std::vector<std::uint8_t> picture(std::size_t(region.width) * region.height * 4);
    ColorPipeline* pipeline = CreateColorPipeline();
    if (pipeline == nullptr) return {};
    SetFrameSize(pipeline, region.width, region.height);
    AllocateWorkBuffer(pipeline);
    FillWorkBuffer(pipeline, raw.data(), ULONG(region.y * SENSOR_WIDTH + region.x), SENSOR_WIDTH);
    pipeline->output = picture.data();
    pipeline->kernelRedGain = ULONG(settings.redGain);
    pipeline->kernelGreenGain = ULONG(settings.greenGain);
    pipeline->kernelBlueGain = ULONG(settings.blueGain);
    const PixelKernelTable* reference = GetPixelKernelTable(PixelIsaReference);
    const int phase = 1;  // the sensor's: B G / G R
    if (settings.whiteBalance != 0) {
        reference->measureWhiteBalance[phase](pipeline, &pipeline->kernelRedGain,
                                              &pipeline->kernelGreenGain,
                                              &pipeline->kernelBlueGain);
    }
    for (int i = 0; i < 16; ++i) {
        pipeline->kernelMatrix[i] = pipeline->matrixFixed[i];
        pipeline->matrixPositive[i] = pipeline->matrixFixed[i] > 0 ? 1 : 0;
    }
    if (settings.colorEnable != 0) {
        reference->convertColor[phase](pipeline);
    } else {
        reference->convertGray[phase](pipeline);
    }
    FreeColorPipeline(pipeline);
    return picture;
}

std::vector<std::uint8_t> ExpectedClientFrame(const std::vector<std::uint8_t>& picture,
                                              const Region& region, ULONG frameBytes, LONG step,
                                              bool flipH, bool flipV) {
    std::vector<std::uint8_t> frame(frameBytes, 0);
    const LONG width = region.width - region.width % 8;
    for (LONG row = 0; row < region.height; ++row) {
        const LONG sourceRow = flipV ? row : region.height - 1 - row;
        for (LONG i = 0; i < width; ++i) {
            const LONG target = flipH ? width - 1 - i : i;
            std::memcpy(&frame[std::size_t(row) * step + std::size_t(target) * 4],
                        &picture[(std::size_t(sourceRow) * region.width + i) * 4], 4);
        }
    }
    return frame;
}

void SetRegion(CameraDevice* device, const Region& region) {
    SettingsLockGuard guard(device);
    SetRoi(device, region.x, region.y, region.width, region.height, 0);
}

void CaptureTest::SetUp() {
    CameraTest::SetUp();
    // Long enough for a full frame on a loaded machine under the sanitizers.
    InterlockedExchange(&transferTimeoutMs, 2000);
}

void CaptureTest::open() {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &filter), STATUS_SUCCESS);
}

void CaptureTest::startStreaming() {
    open();
    ASSERT_EQ(createPin(), STATUS_SUCCESS);
    ASSERT_EQ(setState(KSSTATE_RUN), STATUS_SUCCESS);
}

const KS_DATARANGE_VIDEO& CaptureTest::offeredRange() const {
    return device()->captureDescriptors.dataRange;
}

NTSTATUS CaptureTest::intersect(const KS_DATARANGE_VIDEO& range, VideoFormat* format) {
    ULONG returned = 0;
    *format = {};
    return client->intersect(filter, 0, &range.DataRange, format, sizeof(*format), &returned);
}

VideoFormat CaptureTest::offeredFormat() {
    VideoFormat format{};
    EXPECT_EQ(intersect(offeredRange(), &format), STATUS_SUCCESS);
    return format;
}

NTSTATUS CaptureTest::createPin(const VideoFormat& format) {
    return client->createPin(filter, 0, &format.DataFormat, &pin);
}

PinContext* CaptureTest::context() const { return PinContextOf(client->pinObject(pin)); }

NTSTATUS CaptureTest::nextFrame(ULONG bytes, StreamFrame* frame, bool withFrameInfo) {
    NTSTATUS status = client->queueFrame(pin, bytes, withFrameInfo);
    if (!NT_SUCCESS(status)) return status;
    return client->waitFrame(pin, frameWait, frame);
}

NTSTATUS CaptureTest::nextPicture(ULONG bytes, StreamFrame* frame) {
    // A pass that finds no filled buffer hands the frame back at once without a picture. When
    // conversion is slower than a read (a sanitizer build), that is every pass that directly
    // follows a conversion, so the frame goes back into the queue at once, without allocating
    // a new one: a slower re-queue misses the next pass every time. The retries are bounded by
    // time, as a count runs out in milliseconds while a slow machine reads its first frame.
    const auto deadline = std::chrono::steady_clock::now() + frameWait;
    NTSTATUS status = nextFrame(bytes, frame);
    while (status == STATUS_SUCCESS && frame->header.DataUsed == 0) {
        if (std::chrono::steady_clock::now() >= deadline) return STATUS_UNSUCCESSFUL;
        status = client->queueFrame(pin, std::move(frame->data), frame->hasFrameInfo);
        if (!NT_SUCCESS(status)) return status;
        status = client->waitFrame(pin, frameWait, frame);
    }
    return status;
}

std::int64_t MatchingCameraFrame(const sim::SimulatedCamera& camera, const StreamFrame& frame,
                                 const Region& region, const PictureSettings& settings, LONG step,
                                 bool flipH, bool flipV) {
    // The picture number counts frames the grabber read; the camera's own count runs ahead by
    // the frames it abandoned or sent into failed reads, which a loaded machine makes many. So
    // the frames around it are tried nearest first.
    constexpr std::int64_t kWindow = 16;
    const std::int64_t newest = std::int64_t(frame.frameInfo.PictureNumber) - 1;
    for (std::int64_t distance = 0; distance <= 2 * kWindow; ++distance) {
        const std::int64_t n = newest + (distance % 2 ? -(distance + 1) / 2 : distance / 2);
        if (n < 0) continue;
        std::vector<std::uint8_t> raw = camera.renderFrame(std::uint64_t(n));
        std::vector<std::uint8_t> expected =
            ExpectedClientFrame(ReferencePicture(raw, region, settings), region,
                                ULONG(frame.data.size()), step, flipH, flipV);
        if (expected == frame.data) return n;
    }
    return -1;
}

}  // namespace bayercam::testing
