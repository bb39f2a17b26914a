#include "tests/fuzz/device_checks.h"

#include <string>

#include "tests/fuzz/kernel_baseline.h"

namespace bayercam::fuzz {

void expectSoundRegion(CameraDevice* device, std::string_view what) {
    const LONG x = device->roiX;
    const LONG y = device->roiY;
    const LONG w = device->roiW;
    const LONG h = device->roiH;
    const std::string region = std::to_string(w) + "x" + std::to_string(h) + " at " +
                               std::to_string(x) + "," + std::to_string(y);
    if (x < 0 || y < 0 || w <= 0 || h <= 0 || x > SENSOR_WIDTH - w || y > SENSOR_HEIGHT - h) {
        fuzzFailure(std::string(what) + ": region " + region + " is not inside the sensor");
    }
    if (device->outputWidth != w - w % 8 || device->outputHeight != h) {
        fuzzFailure(std::string(what) + ": output " + std::to_string(device->outputWidth) + "x" +
                    std::to_string(device->outputHeight) + " does not follow region " + region);
    }
    const KS_DATARANGE_VIDEO& range = device->captureDescriptors.dataRange;
    const ULONG image = static_cast<ULONG>(device->outputWidth) * static_cast<ULONG>(h) * 4;
    if (range.DataRange.SampleSize != image ||
        range.VideoInfoHeader.bmiHeader.biSizeImage != image ||
        range.VideoInfoHeader.bmiHeader.biWidth != device->outputWidth ||
        range.VideoInfoHeader.bmiHeader.biHeight != h) {
        fuzzFailure(std::string(what) + ": the offered range (" +
                    std::to_string(range.VideoInfoHeader.bmiHeader.biWidth) + "x" +
                    std::to_string(range.VideoInfoHeader.bmiHeader.biHeight) + ", " +
                    std::to_string(range.DataRange.SampleSize) + " bytes) does not describe " +
                    "output " + std::to_string(device->outputWidth) + "x" + std::to_string(h));
    }
}

}  // namespace bayercam::fuzz
