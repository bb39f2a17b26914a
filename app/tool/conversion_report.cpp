#include "app/tool/conversion_report.h"

#include <nlohmann/json.hpp>

namespace bayercam::app {

namespace {

std::string gainsText(const ConversionRecord& record) {
    return "red " + std::to_string(record.redGain) + ", green " + std::to_string(record.greenGain) +
           ", blue " + std::to_string(record.blueGain);
}

}  // namespace

std::string describeConversion(const ConversionRecord& record) {
    const std::string kind = record.format == OutputFormat::kPng ? "RGB PNG" : "raw BGRA";
    std::string line = record.output + ": " + record.size.text() + " " + kind + " from " +
                       record.input + ", Bayer phase " + std::to_string(record.bayerPhase) + " (" +
                       std::string(bayerPatternName(record.bayerPhase)) + ")";
    if (record.settings.colorEnable == 0) return line + ", grey";
    const std::string source = record.settings.whiteBalance != 0 ? "measured gains " : "gains ";
    return line + ", " + source + gainsText(record) + " (128 = 1.0)";
}

std::string conversionJson(const ConversionRecord& record) {
    nlohmann::ordered_json settings = nlohmann::ordered_json::object();
    for (const SettingInfo& info : conversionSettingTable()) {
        settings[std::string(info.name)] = record.settings.*info.field;
    }
    const nlohmann::ordered_json json = {
        {"input", record.input},
        {"output", record.output},
        {"format", formatName(record.format)},
        {"width", record.size.width},
        {"height", record.size.height},
        {"bayerPhase", record.bayerPhase},
        {"bayerPattern", bayerPatternName(record.bayerPhase)},
        {"settings", settings},
        {"appliedGains",
         {{"red", record.redGain}, {"green", record.greenGain}, {"blue", record.blueGain}}},
    };
    return json.dump(2);
}

}  // namespace bayercam::app
