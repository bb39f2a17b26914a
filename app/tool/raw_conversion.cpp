#include "app/tool/raw_conversion.h"

#include <cassert>
#include <stdexcept>

#include "app/tool/tool_error.h"
#include "host/conversion/raw_frame_conversion.h"

namespace bayercam::app {

namespace {

host::ConversionSettings hostSettings(const ConversionSettings& settings) {
    host::ConversionSettings chosen;
    chosen.colorEnable = settings.colorEnable;
    chosen.whiteBalance = settings.whiteBalance;
    chosen.redGain = settings.redGain;
    chosen.greenGain = settings.greenGain;
    chosen.blueGain = settings.blueGain;
    chosen.colorCorrection = settings.colorCorrection;
    chosen.brightness = settings.brightness;
    chosen.contrast = settings.contrast;
    chosen.saturation = settings.saturation;
    chosen.hue = settings.hue;
    return chosen;
}

}  // namespace

ConvertedFrame convertRawFrame(std::span<const std::uint8_t> raw, FrameSize size,
                               std::int32_t bayerPhase, const ConversionSettings& settings) {
    assert(raw.size() == size.pixels());
    std::optional<host::ConvertedPicture> picture;
    try {
        picture =
            host::convertRawFrame(raw, size.width, size.height, bayerPhase, hostSettings(settings));
    } catch (const std::logic_error& error) {
        throw failure(error.what());
    }
    if (!picture) throw failure("out of memory for the conversion of a " + size.text() + " frame");
    return ConvertedFrame{size, std::move(picture->bgra), picture->redGain, picture->greenGain,
                          picture->blueGain};
}

}  // namespace bayercam::app
