// Converts a whole raw frame with the driver's own conversion: the ColorPipeline set up as a
// capture acquisition sets it up, then one ConvertFrame, as for one live frame.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "app/tool/conversion_settings.h"
#include "app/tool/convert_arguments.h"

namespace bayercam::app {

struct ConvertedFrame {
    FrameSize size;
    // width x height pixels of blue, green, red, 255; rows packed, image row 0 first.
    std::vector<std::uint8_t> bgra;
    // The gains the frame was converted with: the set ones, or those the white-balance
    // measurement found on this frame.
    std::int32_t redGain = 0;
    std::int32_t greenGain = 0;
    std::int32_t blueGain = 0;
};

// raw holds size.pixels() samples, row-major. Needs the kernel pool; throws a failure
// ToolError when it has no room for the conversion's buffers.
ConvertedFrame convertRawFrame(std::span<const std::uint8_t> raw, FrameSize size,
                               std::int32_t bayerPhase, const ConversionSettings& settings);

}  // namespace bayercam::app
