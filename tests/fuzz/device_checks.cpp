#include "tests/fuzz/device_checks.h"

#include <string>

#include "tests/fuzz/kernel_baseline.h"

namespace bayercam::fuzz {

void expectSoundRegion(CameraDevice* device, std::string_view what) {
    const LONG x = device->roiX, y = device->roiY, w = device->roiW, h = device->roiH;
    const LONG outputWidth = device->outputWidth;
    const KS_BITMAPINFOHEADER& offered =
        device->captureDescriptors.dataRange.VideoInfoHeader.bmiHeader;
    const ULONG image = static_cast<ULONG>(outputWidth) * static_cast<ULONG>(h) * 4;
    const bool inside =
        x >= 0 && y >= 0 && w > 0 && h > 0 && x <= SENSOR_WIDTH - w && y <= SENSOR_HEIGHT - h;
    const bool followed = outputWidth == PictureWidthOf(w) && device->outputHeight == h &&
                          device->captureDescriptors.dataRange.DataRange.SampleSize == image &&
                          offered.biSizeImage == image && offered.biWidth == outputWidth &&
                          offered.biHeight == h;
    if (inside && followed) return;
    fuzzFailure(std::string(what) + ": region " + std::to_string(w) + "x" + std::to_string(h) +
                " at " + std::to_string(x) + "," + std::to_string(y) + ", offered " +
                std::to_string(offered.biWidth) + "x" + std::to_string(offered.biHeight) +
                ": not inside the sensor or not following the region");
}

}  // namespace bayercam::fuzz
