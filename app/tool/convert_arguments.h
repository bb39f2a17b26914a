// The arguments of convert that need more than a type check: frame size, Bayer phase and
// output format. Each throws a usage ToolError that says what was expected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bayercam::app {

struct FrameSize {
    std::int32_t width = 0;
    std::int32_t height = 0;

    std::size_t pixels() const { return static_cast<std::size_t>(width) * height; }
    std::string text() const { return std::to_string(width) + "x" + std::to_string(height); }
};

// The conversion mirrors a two-sample border, so it needs 8 samples each way; the upper
// bound keeps the padded work buffer within 32-bit sizes.
constexpr std::int32_t kMinFrameSide = 8;
constexpr std::int32_t kMaxFrameSide = 16384;

// "WIDTHxHEIGHT", e.g. "1360x1024".
FrameSize parseFrameSize(std::string_view text);

// The sensor's own phase: B G / G R at sample (0, 0).
constexpr std::int32_t kSensorBayerPhase = 1;

// 0 to 3, or the pattern read along the first two rows: GRBG, BGGR, RGGB, GBRG.
std::int32_t parseBayerPhase(std::string_view text);

// The pattern name of a phase 0 to 3, e.g. "BGGR" for 1.
std::string_view bayerPatternName(std::int32_t phase);

enum class OutputFormat { kPng, kBgra };

// --format when given, else the output file's extension (.png or .bgra).
OutputFormat chooseOutputFormat(std::string_view outputPath,
                                const std::optional<std::string>& formatOption);

std::string_view formatName(OutputFormat format);

}  // namespace bayercam::app
