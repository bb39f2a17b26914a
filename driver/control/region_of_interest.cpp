// The region of interest, the white-balance switch, the flips and the Bayer phase.
#include "driver/control/region_of_interest.h"

#include "driver/streaming/capture_data_range.h"
#include "driver/streaming/color_pipeline.h"

namespace {

constexpr LONG MAX_ROI_X = SENSOR_WIDTH - 8;
constexpr LONG MAX_ROI_Y = SENSOR_HEIGHT - 8;

// An odd origin moves up by one; computed in 64 bits so that 2^31 - 1 cannot wrap.
LONG LimitOrigin(LONG origin, LONG largest) {
    LONGLONG even = static_cast<LONGLONG>(origin) + (origin % 2 != 0 ? 1 : 0);
    if (even > largest) even = largest;
    if (even < 0) even = 0;
    return static_cast<LONG>(even);
}

// origin is within the frame, so origin + extent cannot wrap.
LONG LimitExtent(LONG extent, LONG origin, LONG full) {
    if (extent <= 0 || extent > full) extent = full;
    if (origin + extent > full) extent = full - origin;
    return extent;
}

}  // namespace

void SetRoi(CameraDevice* device, LONG x, LONG y, LONG width, LONG height, LONG) {
    if (InterlockedCompareExchange(&device->roiLocked, 0, 0) != 0) return;
    x = LimitOrigin(x, MAX_ROI_X);
    y = LimitOrigin(y, MAX_ROI_Y);
    width = LimitExtent(width, x, SENSOR_WIDTH);
    height = LimitExtent(height, y, SENSOR_HEIGHT);
    device->subSample = 0;
    device->fullFrameX = 0;
    device->fullFrameY = 0;
    device->fullFrameWidth = SENSOR_WIDTH;
    device->fullFrameHeight = SENSOR_HEIGHT;
    device->roiX = x;
    device->roiY = y;
    device->roiW = width;
    device->roiH = height;
    device->outputHeight = height;
    device->outputWidth = width - width % 8;
    UpdateCaptureDataRange(device);
}

void SetWhiteBalance(CameraDevice* device, LONG on) {
    device->whiteBalance = static_cast<ULONG>(on);
    ColorPipeline* pipeline = device->colorPipeline;
    if (pipeline == nullptr) return;
    InterlockedExchange(&pipeline->whiteBalance, on);
    if (on != 0) return;
    device->redGain = static_cast<ULONG>(InterlockedCompareExchange(&pipeline->redGain, 0, 0));
    device->greenGain = static_cast<ULONG>(InterlockedCompareExchange(&pipeline->greenGain, 0, 0));
    device->blueGain = static_cast<ULONG>(InterlockedCompareExchange(&pipeline->blueGain, 0, 0));
}

LONG GetFlipH(CameraDevice* device) { return InterlockedCompareExchange(&device->flipH, 0, 0); }

LONG GetFlipV(CameraDevice* device) { return InterlockedCompareExchange(&device->flipV, 0, 0); }

void SetFlipH(CameraDevice* device, LONG value) { InterlockedExchange(&device->flipH, value); }

void SetFlipV(CameraDevice* device, LONG value) { InterlockedExchange(&device->flipV, value); }

void RefreshBayerPhase(CameraDevice* device) { device->bayerPhase = device->nativeBayerPhase; }
