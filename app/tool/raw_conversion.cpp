#include "app/tool/raw_conversion.h"

#include <cassert>
#include <memory>
#include <string>
#include <vector>

#include "app/tool/tool_error.h"
#include "host/kernel/pool.h"
#include "host/kernel/verifier.h"
#include "driver/streaming/color_pipeline.h"

namespace bayercam::app {

namespace {

struct PipelineDeleter {
    void operator()(ColorPipeline* pipeline) const { FreeColorPipeline(pipeline); }
};
using PipelinePtr = std::unique_ptr<ColorPipeline, PipelineDeleter>;

// The same setters, in the same order, as a capture acquisition hands the device's settings
// to a new pipeline.
void applySettings(ColorPipeline* pipeline, std::int32_t bayerPhase,
                   const ConversionSettings& settings) {
    StoreWhiteBalance(pipeline, settings.whiteBalance);
    StoreBayerPhase(pipeline, bayerPhase);
    StoreColorEnable(pipeline, settings.colorEnable);
    StoreRedGain(pipeline, settings.redGain);
    StoreGreenGain(pipeline, settings.greenGain);
    StoreBlueGain(pipeline, settings.blueGain);
    UpdateColorCorrection(pipeline, settings.colorCorrection);
    UpdateBrightness(pipeline, settings.brightness);
    UpdateContrast(pipeline, settings.contrast);
    UpdateSaturation(pipeline, settings.saturation);
    UpdateHue(pipeline, settings.hue);
}

// Freed pool blocks wait in the host kernel's quarantine to catch late writes; a one-shot
// process returns them, and learns of any such write, before it ends.
struct QuarantineFlush {
    ~QuarantineFlush() { host::pool::flushQuarantine(); }
};

// The host kernel's verifier reports driver misuse instead of stopping; a conversion that
// caused any has not produced a trustworthy picture.
void checkVerifier() {
    const std::vector<std::string> failures = host::verifier::takeFailures();
    if (!failures.empty()) {
        throw failure("internal error in the conversion: " + failures.front());
    }
}

ToolError outOfMemory(FrameSize size) {
    return failure("out of memory for the conversion of a " + size.text() + " frame");
}

}  // namespace

ConvertedFrame convertRawFrame(std::span<const std::uint8_t> raw, FrameSize size,
                               std::int32_t bayerPhase, const ConversionSettings& settings) {
    assert(raw.size() == size.pixels());
    ConvertedFrame frame{size, std::vector<std::uint8_t>(size.pixels() * 4)};
    {
        const QuarantineFlush flush;  // runs after the pipeline is freed
        const PipelinePtr pipeline(CreateColorPipeline());
        if (!pipeline) throw outOfMemory(size);
        applySettings(pipeline.get(), bayerPhase, settings);
        SetFrameSize(pipeline.get(), size.width, size.height);
        AllocateWorkBuffer(pipeline.get());
        if (pipeline->workBuffer == nullptr) throw outOfMemory(size);

        pipeline->outputFrame = frame.bgra.data();
        ConvertFrame(pipeline.get(), raw.data(), 0, size.width);
        pipeline->outputFrame = nullptr;
        frame.redGain = static_cast<std::int32_t>(pipeline->kernelRedGain);
        frame.greenGain = static_cast<std::int32_t>(pipeline->kernelGreenGain);
        frame.blueGain = static_cast<std::int32_t>(pipeline->kernelBlueGain);
    }
    checkVerifier();
    return frame;
}

}  // namespace bayercam::app
