#include "tests/app/driver_conversion.h"

#include <stdexcept>

#include "driver/streaming/color_pipeline.h"

namespace bayercam::app::testing {

DriverFrame convertWithDriver(std::span<const std::uint8_t> raw, int width, int height,
                              const DriverSettings& settings) {
    ColorPipeline* pipeline = CreateColorPipeline();
    if (pipeline == nullptr) throw std::runtime_error("no pool for the ColorPipeline");
    UpdateHue(pipeline, settings.hue);
    UpdateSaturation(pipeline, settings.saturation);
    UpdateContrast(pipeline, settings.contrast);
    UpdateBrightness(pipeline, settings.brightness);
    UpdateColorCorrection(pipeline, settings.colorCorrection);
    StoreRedGain(pipeline, settings.redGain);
    StoreGreenGain(pipeline, settings.greenGain);
    StoreBlueGain(pipeline, settings.blueGain);
    StoreColorEnable(pipeline, settings.colorEnable);
    StoreWhiteBalance(pipeline, settings.whiteBalance);
    StoreBayerPhase(pipeline, settings.bayerPhase);

    SetFrameSize(pipeline, width, height);
    AllocateWorkBuffer(pipeline);
    DriverFrame frame;
    frame.bgra.assign(static_cast<std::size_t>(width) * height * 4, 0);
    pipeline->outputFrame = frame.bgra.data();
    ConvertFrame(pipeline, raw.data(), 0, width);
    frame.redGain = pipeline->kernelRedGain;
    frame.greenGain = pipeline->kernelGreenGain;
    frame.blueGain = pipeline->kernelBlueGain;
    pipeline->outputFrame = nullptr;
    FreeColorPipeline(pipeline);
    return frame;
}

}  // namespace bayercam::app::testing
