#include "tests/fuzz/fuzz_checks.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace bayercam::fuzz {

void fuzzFailure(std::string_view message) {
    std::fprintf(stderr, "fuzz: %.*s\n", static_cast<int>(message.size()), message.data());
    std::abort();
}

void KernelBaseline::expectClean(std::string_view what) const {
    // Requests completed on the bus thread and ending system threads release a moment later.
    const std::string problems = snapshot_.problems(std::chrono::seconds(2));
    if (!problems.empty()) fuzzFailure(std::string(what) + ": left behind:\n" + problems);
}

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
