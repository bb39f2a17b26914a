// Reading a raw 8-bit Bayer frame: width x height samples, row-major, no header.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "app/tool/convert_arguments.h"

namespace bayercam::app {

// The file's samples. Throws a failure ToolError when the file cannot be read or does not hold
// exactly size.pixels() bytes, saying which size was expected and which was found.
std::vector<std::uint8_t> readRawFrame(const std::filesystem::path& path, FrameSize size);

}  // namespace bayercam::app
