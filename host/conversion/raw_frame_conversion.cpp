#include "host/conversion/raw_frame_conversion.h"

#include <cassert>
#include <memory>
#include <stdexcept>
#include <string>

#include "driver/streaming/color_pipeline.h"
#include "host/kernel/pool.h"
#include "host/kernel/verifier.h"

namespace bayercam::host {

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

// Freed pool blocks wait in the kernel stand-in's quarantine to catch late writes; a one-shot
// conversion returns them, and learns of any such write, before it reports.
struct QuarantineFlush {
    ~QuarantineFlush() { pool::flushQuarantine(); }
};

// The verifier reports misuse instead of stopping; a conversion that caused any has not made a
// trustworthy picture.
void checkVerifier() {
    const std::vector<std::string> failures = verifier::takeFailures();
    if (!failures.empty()) {
        throw std::logic_error("internal error in the conversion: " + failures.front());
    }
}

}  // namespace

std::optional<ConvertedPicture> convertRawFrame(std::span<const std::uint8_t> raw,
                                                std::int32_t width, std::int32_t height,
                                                std::int32_t bayerPhase,
                                                const ConversionSettings& settings) {
    assert(raw.size() == std::size_t(width) * std::size_t(height));
    ConvertedPicture picture{std::vector<std::uint8_t>(raw.size() * 4)};
    {
        const QuarantineFlush flush;  // runs after the pipeline is freed
        const PipelinePtr pipeline(CreateColorPipeline());
        if (!pipeline) return std::nullopt;
        applySettings(pipeline.get(), bayerPhase, settings);
        SetFrameSize(pipeline.get(), width, height);
        AllocateWorkBuffer(pipeline.get());
        if (pipeline->workBuffer == nullptr) return std::nullopt;

        pipeline->outputFrame = picture.bgra.data();
        ConvertFrame(pipeline.get(), raw.data(), 0, width);
        pipeline->outputFrame = nullptr;
        picture.redGain = static_cast<std::int32_t>(pipeline->kernelRedGain);
        picture.greenGain = static_cast<std::int32_t>(pipeline->kernelGreenGain);
        picture.blueGain = static_cast<std::int32_t>(pipeline->kernelBlueGain);
    }
    checkVerifier();
    return picture;
}

}  // namespace bayercam::host
