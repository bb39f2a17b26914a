#include "app/tool/device_commands.h"

#include <cstdio>

#include "app/tool/json_output.h"
#include "app/tool/number_parse.h"

namespace bayercam::app {

namespace {

Region parseRegionWords(const std::vector<std::string>& words) {
    constexpr std::string_view kExpected = "expected X Y WIDTH HEIGHT, e.g. 0 0 640 480";
    if (words.size() != 4) {
        throw usageError("roi takes four numbers or none, got " + std::to_string(words.size()) +
                         "; " + std::string(kExpected));
    }
    std::int32_t values[4] = {};
    for (std::size_t i = 0; i < 4; ++i) {
        const std::optional<std::int64_t> value = parseInteger(words[i]);
        if (!value || *value < 0 || *value > 0x7FFFFFFF) {
            throw usageError("bad number " + inQuotes(words[i]) + "; " + std::string(kExpected));
        }
        values[i] = std::int32_t(*value);
    }
    return Region{values[0], values[1], values[2], values[3]};
}

std::string regionText(const Region& region) {
    return "x " + std::to_string(region.x) + ", y " + std::to_string(region.y) + ", width " +
           std::to_string(region.width) + ", height " + std::to_string(region.height);
}

// The camera's own pace, which the format's advertised interval does not follow.
std::string frameRateText(std::optional<std::chrono::microseconds> interval) {
    if (!interval) return "as fast as frames are asked for";
    char text[64];
    std::snprintf(text, sizeof(text), "%.4g frames a second (one every %.1f ms)",
                  1e6 / double(interval->count()), double(interval->count()) / 1e3);
    return text;
}

}  // namespace

std::string regionReport(Camera& camera) {
    const Region region = take(camera.roi());
    const VideoFormat format = take(camera.negotiateFormat());
    return "region: " + regionText(region) + "\npicture: " + std::to_string(format.width) + "x" +
           std::to_string(format.height) + "\n";
}

nlohmann::ordered_json regionReportJson(Camera& camera) {
    const Region region = take(camera.roi());
    const VideoFormat format = take(camera.negotiateFormat());
    return {{"region", regionJson(region)},
            {"picture", {{"width", format.width}, {"height", format.height}}}};
}

RoiCommand::RoiCommand(CLI::App& tool, const CameraChoice& choice)
    : command_(tool.add_subcommand("roi", "Show or set the region of interest")), choice_(choice) {
    command_->add_option("X Y WIDTH HEIGHT", numbers_,
                         "The new region; none shows the current one");
    command_->add_flag("--json", json_, "The region and the picture size as JSON");
    command_->footer(
        "The driver may adjust a region to what the sensor can deliver; the region as the\n"
        "driver stored it is printed. It persists like the other settings.\n"
        "Example:\n  bayercam roi 16 8 640 480");
}

void RoiCommand::run(std::ostream& out) const {
    const std::optional<Region> wanted =
        numbers_.empty() ? std::nullopt : std::optional(parseRegionWords(numbers_));
    std::unique_ptr<Camera> camera = choice_.open();
    if (wanted) take(camera->setRoi(*wanted));
    if (json_) return printJson(out, regionReportJson(*camera));
    out << regionReport(*camera);
}

InfoCommand::InfoCommand(CLI::App& tool, const CameraChoice& choice)
    : command_(tool.add_subcommand(
          "info", "The camera's descriptors and pipes, the offered format, the settings store")),
      choice_(choice) {}

void InfoCommand::run(std::ostream& out) const {
    std::unique_ptr<Camera> camera = choice_.open();
    out << "Camera: " << choice_.camera << "\n";
    for (const std::string& line : camera->describeDevice()) out << line << "\n";
    out << "Frame rate: " << frameRateText(camera->frameInterval()) << "\n";
}

}  // namespace bayercam::app
