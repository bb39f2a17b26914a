// Writing a converted frame (rows of blue, green, red, 255; image row 0 first) to a file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "app/tool/convert_arguments.h"

namespace bayercam::app {

// PNG: 8-bit RGB, image row 0 at the top, as a viewer shows the live picture.
// BGRA: the converted frame's bytes exactly, width x 4 bytes per row, no header.
// The file is replaced atomically; throws a failure ToolError when it cannot be written.
void writeImageFile(const std::filesystem::path& path, OutputFormat format,
                    std::span<const std::uint8_t> bgra, FrameSize size);

}  // namespace bayercam::app
