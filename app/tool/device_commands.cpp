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

std::string regionDescription(const Region& region) {
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

std::string printed(const char* format, auto... values) {
    char line[160];
    std::snprintf(line, sizeof(line), format, values...);
    return line;
}

std::string infoText(const DeviceDescription& d) {
    std::string text =
        printed("USB device: vendor 0x%04X, product 0x%04X, release %X.%02X, %d configuration(s)\n",
                d.vendorId, d.productId, d.release >> 8, d.release & 0xFF, d.configurations);
    text += printed("Configuration %d: %d interface(s), %zu bytes of descriptors\n",
                    d.configurationValue, d.interfaces, d.descriptorBytes);
    text += "Instance path: " + d.instancePath + "\n";
    text += d.interfaceNumber
                ? printed("Interface %d: %zu pipe(s)\n", *d.interfaceNumber, d.pipes.size())
                : "Pipes: none open\n";
    for (std::size_t i = 0; i < d.pipes.size(); ++i) {
        const DeviceDescription::Pipe& pipe = d.pipes[i];
        text += printed("  pipe %zu: endpoint 0x%02X %s %s, packets of %u bytes\n", i,
                        pipe.endpoint, pipe.type.c_str(), pipe.endpoint & 0x80 ? "in" : "out",
                        unsigned(pipe.maxPacketSize));
    }
    text += printed("Offered format: RGB32 %dx%d, %zu bytes a frame, %lld x 100 ns a frame\n",
                    d.offered.width, d.offered.height, d.offered.frameBytes,
                    static_cast<long long>(d.offered.frameInterval));
    text += printed(
        "Data range: input %dx%d, output %dx%d to %dx%d, frame interval %lld to %lld x 100 ns\n",
        d.input.width, d.input.height, d.smallestOutput.width, d.smallestOutput.height,
        d.largestOutput.width, d.largestOutput.height,
        static_cast<long long>(d.shortestFrameInterval),
        static_cast<long long>(d.longestFrameInterval));
    return text + "Settings store: " + d.store.string() +
           " (key Control\\Class\\<instance>\\Settings" +
           (d.storeWritable ? ")\n" : "; read only)\n");
}

nlohmann::ordered_json sizeJson(const DeviceDescription::Size& size) {
    return {{"width", size.width}, {"height", size.height}};
}

nlohmann::ordered_json infoJson(const std::string& camera, const DeviceDescription& d,
                                std::optional<std::chrono::microseconds> interval) {
    nlohmann::ordered_json pipes = nlohmann::ordered_json::array();
    for (const DeviceDescription::Pipe& pipe : d.pipes) {
        pipes.push_back({{"endpoint", pipe.endpoint},
                         {"type", pipe.type},
                         {"direction", pipe.endpoint & 0x80 ? "in" : "out"},
                         {"maxPacketSize", pipe.maxPacketSize}});
    }
    return {
        {"camera", camera},
        {"usb",
         {{"vendorId", d.vendorId},
          {"productId", d.productId},
          {"release", printed("%X.%02X", d.release >> 8, d.release & 0xFF)},
          {"configurations", d.configurations},
          {"interfaces", d.interfaces},
          {"descriptorBytes", d.descriptorBytes}}},
        {"instancePath", d.instancePath},
        {"pipes", pipes},
        {"offeredFormat",
         {{"width", d.offered.width},
          {"height", d.offered.height},
          {"frameBytes", d.offered.frameBytes},
          {"frameInterval", d.offered.frameInterval}}},
        {"dataRange",
         {{"input", sizeJson(d.input)},
          {"smallestOutput", sizeJson(d.smallestOutput)},
          {"largestOutput", sizeJson(d.largestOutput)},
          {"shortestFrameInterval", d.shortestFrameInterval},
          {"longestFrameInterval", d.longestFrameInterval}}},
        {"settingsStore", {{"path", d.store.string()}, {"readOnly", !d.storeWritable}}},
        {"framesPerSecond",
         interval ? nlohmann::ordered_json(1e6 / double(interval->count())) : nullptr},
    };
}

}  // namespace

std::string regionReport(Camera& camera) {
    const Region region = take(camera.roi());
    const VideoFormat format = take(camera.negotiateFormat());
    return "region: " + regionDescription(region) + "\npicture: " + std::to_string(format.width) +
           "x" + std::to_string(format.height) + "\n";
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
      choice_(choice) {
    command_->add_flag("--json", json_, "The same as JSON");
}

void InfoCommand::run(std::ostream& out) const {
    std::unique_ptr<Camera> camera = choice_.open();
    const DeviceDescription device = camera->describeDevice();
    const std::optional<std::chrono::microseconds> interval = camera->frameInterval();
    if (json_) return printJson(out, infoJson(choice_.camera, device, interval));
    out << "Camera: " << choice_.camera << "\n" << infoText(device);
    out << "Frame rate: " << frameRateText(interval) << "\n";
}

}  // namespace bayercam::app
