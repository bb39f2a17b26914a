#include "app/tool/device_commands.h"

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

}  // namespace

std::string regionReport(Camera& camera) {
    const Region region = take(camera.roi());
    const VideoFormat format = take(camera.negotiateFormat());
    return "region: " + regionText(region) + "\npicture: " + std::to_string(format.width) + "x" +
           std::to_string(format.height) + "\n";
}

RoiCommand::RoiCommand(CLI::App& tool, const CameraChoice& choice)
    : command_(tool.add_subcommand("roi", "Show or set the region of interest")), choice_(choice) {
    command_->add_option("X Y WIDTH HEIGHT", numbers_,
                         "The new region; none shows the current one");
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
}

}  // namespace bayercam::app
