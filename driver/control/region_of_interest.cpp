// The region of interest, the white-balance switch, the flips and the Bayer phase.
#include "driver/control/region_of_interest.h"

#include "driver/streaming/capture_data_range.h"
#include "driver/streaming/color_pipeline.h"

void SetRoi(CameraDevice* device, LONG x, LONG y, LONG width, LONG height, LONG) {
    if (InterlockedCompareExchange(&device->roiLocked, 0, 0) != 0) return;
    const CameraRegion region = LimitCameraRegion(x, y, width, height);
    device->subSample = 0;
    device->fullFrameX = 0;
    device->fullFrameY = 0;
    device->fullFrameWidth = SENSOR_WIDTH;
    device->fullFrameHeight = SENSOR_HEIGHT;
    device->roiX = region.x;
    device->roiY = region.y;
    device->roiW = region.width;
    device->roiH = region.height;
    device->outputHeight = region.height;
    device->outputWidth = PictureWidthOf(region.width);
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
