// Writing a converted picture (rows of blue, green, red, 255) as PNG or packed BGRA, to an open
// stream or to a file replaced whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "app/tool/convert_arguments.h"
#include "app/tool/output_file.h"

namespace bayercam::app {

// A picture in memory, row 0 being its top row.
struct ImageView {
    const std::uint8_t* top = nullptr;  // the first byte of row 0
    std::ptrdiff_t rowStep = 0;         // from one row to the next; negative when stored bottom up
    FrameSize size;

    // Rows packed, top row first.
    static ImageView packed(std::span<const std::uint8_t> bgra, FrameSize size);
    // Rows of rowBytes, bottom row first, as the camera delivers them.
    static ImageView bottomUp(std::span<const std::uint8_t> bgra, std::size_t rowBytes,
                              FrameSize size);
    const std::uint8_t* row(std::int32_t y) const { return top + y * rowStep; }
};

// Key and text pairs a PNG carries in its text chunks.
using ImageText = std::vector<std::pair<std::string, std::string>>;

// PNG: 8-bit RGB, top row first, with the text chunks. BGRA: width x 4 bytes per row, top row
// first, no header. `name` is the output named in errors. Throws a failure ToolError.
void writeImage(std::FILE* stream, OutputFormat format, const ImageView& image,
                const ImageText& text, const std::string& name);

// As writeImage into a file (see OutputFile: replaced whole, or written through when a stream).
void writeImageFile(const std::filesystem::path& path, OutputFormat format, const ImageView& image,
                    const ImageText& text = {}, Durability durability = Durability::kOnDisk);
void writeImageFile(const std::filesystem::path& path, OutputFormat format,
                    std::span<const std::uint8_t> bgra, FrameSize size);

}  // namespace bayercam::app
