#include "app/tool/raw_conversion.h"

#include <cassert>
#include <stdexcept>

#include "app/tool/tool_error.h"
#include "host/conversion/raw_frame_conversion.h"

namespace bayercam::app {

ConvertedFrame convertRawFrame(std::span<const std::uint8_t> raw, FrameSize size,
                               std::int32_t bayerPhase, const ConversionSettings& settings) {
    assert(raw.size() == size.pixels());
    std::optional<host::ConvertedPicture> picture;
    try {
        picture = host::convertRawFrame(raw, size.width, size.height, bayerPhase, settings);
    } catch (const std::logic_error& error) {
        throw failure(error.what());
    }
    if (!picture) throw failure("out of memory for the conversion of a " + size.text() + " frame");
    return ConvertedFrame{size, std::move(picture->bgra), picture->redGain, picture->greenGain,
                          picture->blueGain};
}

}  // namespace bayercam::app
