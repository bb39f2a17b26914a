#include "app/tool/convert_arguments.h"

#include <array>
#include <filesystem>

#include "app/tool/name_matching.h"
#include "app/tool/number_parse.h"
#include "app/tool/tool_error.h"

namespace bayercam::app {

namespace {

constexpr std::array<std::string_view, 4> kPatterns = {"GRBG", "BGGR", "RGGB", "GBRG"};

std::optional<std::int32_t> parseSide(std::string_view text) {
    // Only plain decimal digits: "0x10x8" would be ambiguous.
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<std::int64_t> value = parseInteger(text);
    if (!value || *value > kMaxFrameSide) return std::nullopt;
    return static_cast<std::int32_t>(*value);
}

}  // namespace

FrameSize parseFrameSize(std::string_view text) {
    const std::size_t x = text.find_first_of("xX");
    const std::string shown = inQuotes(text);
    if (x == std::string_view::npos) {
        throw usageError("--size expects WIDTHxHEIGHT, e.g. 1360x1024; got " + shown);
    }
    const std::optional<std::int32_t> width = parseSide(text.substr(0, x));
    const std::optional<std::int32_t> height = parseSide(text.substr(x + 1));
    const std::string limits =
        std::to_string(kMinFrameSide) + " to " + std::to_string(kMaxFrameSide);
    if (!width || !height || *width < kMinFrameSide || *height < kMinFrameSide) {
        throw usageError("--size expects WIDTHxHEIGHT with each side " + limits +
                         " pixels, e.g. 1360x1024; got " + shown);
    }
    return FrameSize{*width, *height};
}

std::int32_t parseBayerPhase(std::string_view text) {
    for (std::size_t phase = 0; phase < kPatterns.size(); ++phase) {
        if (equalsIgnoringCase(text, kPatterns[phase])) return static_cast<std::int32_t>(phase);
    }
    const std::optional<std::int64_t> value = parseInteger(text);
    if (!value || *value < 0 || *value > 3) {
        throw usageError(
            "--phase expects 0 (GRBG), 1 (BGGR, the sensor's), 2 (RGGB) or 3 (GBRG); "
            "got '" +
            std::string(text) + "'");
    }
    return static_cast<std::int32_t>(*value);
}

std::string_view bayerPatternName(std::int32_t phase) {
    return kPatterns.at(static_cast<std::size_t>(phase));
}

OutputFormat chooseOutputFormat(std::string_view outputPath,
                                const std::optional<std::string>& formatOption) {
    if (formatOption) {
        if (equalsIgnoringCase(*formatOption, "png")) return OutputFormat::kPng;
        if (equalsIgnoringCase(*formatOption, "bgra")) return OutputFormat::kBgra;
        throw usageError("--format expects png or bgra; got '" + *formatOption + "'");
    }
    const std::string extension = std::filesystem::path(outputPath).extension().string();
    if (equalsIgnoringCase(extension, ".png")) return OutputFormat::kPng;
    if (equalsIgnoringCase(extension, ".bgra")) return OutputFormat::kBgra;
    throw usageError("cannot tell the output format from '" + std::string(outputPath) +
                     "': name it .png or .bgra, or give --format png|bgra");
}

std::string_view formatName(OutputFormat format) {
    return format == OutputFormat::kPng ? "png" : "bgra";
}

}  // namespace bayercam::app
