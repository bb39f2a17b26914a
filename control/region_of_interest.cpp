// SetRoi and SetWhiteBalance.
#include "control/region_of_interest.h"

#include "streaming/color_pipeline.h"

namespace {

constexpr LONG MAX_ROI_X = SENSOR_WIDTH - 8;
constexpr LONG MAX_ROI_Y = SENSOR_HEIGHT - 8;

LONG LimitExtent(LONG extent, LONG origin, LONG full) {
    if (extent <= 0 || extent > full) extent = full;
    if (origin + extent > full) extent = full - origin;
    return extent;
}

}  // namespace

void SetRoi(CameraDevice* device, LONG x, LONG y, LONG width, LONG height, LONG) {
    if (InterlockedCompareExchange(&device->roiLocked, 0, 0) != 0) return;
    if (x % 2 != 0) x += 1;
    if (y % 2 != 0) y += 1;
    x = x > MAX_ROI_X ? MAX_ROI_X : x;
    x = x < 0 ? 0 : x;
    y = y > MAX_ROI_Y ? MAX_ROI_Y : y;
    y = y < 0 ? 0 : y;
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
}

// Switching the automatic balance off keeps the gains it measured as the manual gains.
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
