#include "app/tool/conversion_settings.h"

#include <array>
#include <iomanip>
#include <sstream>
#include <vector>

#include "app/tool/name_matching.h"
#include "app/tool/number_parse.h"
#include "app/tool/tool_error.h"

namespace bayercam::app {

namespace {

using S = ConversionSettings;

const std::array kSettings = {
    SettingInfo{"WhiteBalance", 0, 1, &S::whiteBalance, "1: measure the gains on this frame"},
    SettingInfo{"ColorEnable", 0, 1, &S::colorEnable, "0: grey picture"},
    SettingInfo{"RedGain", 1, 512, &S::redGain, "red gain, 128 = 1.0"},
    SettingInfo{"GreenGain", 1, 512, &S::greenGain, "green gain, 128 = 1.0"},
    SettingInfo{"BlueGain", 1, 512, &S::blueGain, "blue gain, 128 = 1.0"},
    SettingInfo{"ColorCorrection", 0, 1, &S::colorCorrection, "1: sensor colour correction"},
    SettingInfo{"Brightness", 0, 510, &S::brightness, "255 neutral"},
    SettingInfo{"Contrast", 0, 20, &S::contrast, "10 neutral"},
    SettingInfo{"Saturation", 0, 20, &S::saturation, "10 neutral, 0 grey"},
    SettingInfo{"Hue", 0, 359, &S::hue, "rotation in degrees"},
};

// Stored settings that belong to the camera or the delivery, not to the conversion.
constexpr std::array<std::string_view, 14> kCameraOnlySettings = {
    "Timeout", "Exposure",  "GlobalGain", "FlipH", "FlipV", "AGC",  "AEC",
    "Clock",   "ExTrigger", "SubSample",  "RoiX",  "RoiY",  "RoiW", "RoiH",
};

std::vector<std::string_view> settingNames() {
    std::vector<std::string_view> names;
    for (const SettingInfo& info : kSettings) names.push_back(info.name);
    return names;
}

std::string allNames() {
    std::vector<std::string> names;
    for (const SettingInfo& info : kSettings) names.emplace_back(info.name);
    return joinAlternatives(names);
}

const SettingInfo& findSetting(std::string_view name) {
    for (const SettingInfo& info : kSettings) {
        if (equalsIgnoringCase(info.name, name)) return info;
    }
    for (std::string_view cameraOnly : kCameraOnlySettings) {
        if (equalsIgnoringCase(cameraOnly, name)) {
            throw usageError(std::string(cameraOnly) +
                             " is a camera setting and does not change the conversion; "
                             "convert takes " +
                             allNames());
        }
    }
    const std::vector<std::string_view> names = settingNames();
    const std::vector<std::string> matches = closeMatches(name, names);
    if (matches.empty()) {
        throw usageError("unknown setting '" + std::string(name) + "'; convert takes " +
                         allNames());
    }
    throw usageError("unknown setting '" + std::string(name) + "'; did you mean " +
                     joinAlternatives(matches) + "?");
}

}  // namespace

std::span<const SettingInfo> conversionSettingTable() { return kSettings; }

void applySettingAssignment(ConversionSettings& settings, std::string_view assignment) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        throw usageError("--set expects NAME=VALUE, got '" + std::string(assignment) + "'");
    }
    const std::string_view name = assignment.substr(0, equals);
    const std::string_view text = assignment.substr(equals + 1);
    const SettingInfo& info = findSetting(name);
    const std::optional<std::int64_t> value = parseInteger(text);
    if (!value) {
        throw usageError(std::string(info.name) +
                         " needs a whole number (decimal or 0x-hex), got '" + std::string(text) +
                         "'");
    }
    if (*value < info.minimum || *value > info.maximum) {
        const ConversionSettings defaults;
        const std::string setting(info.name);
        const std::string decimal = std::to_string(*value);
        const std::string given =
            text == decimal ? decimal : std::string(text) + " (" + decimal + ")";
        throw usageError(setting + "=" + given + " is out of range: " + setting + " takes " +
                         std::to_string(info.minimum) + " to " + std::to_string(info.maximum) +
                         " (default " + std::to_string(defaults.*info.field) + ")");
    }
    settings.*info.field = static_cast<std::int32_t>(*value);
}

std::string describeConversionSettings() {
    const ConversionSettings defaults;
    std::ostringstream text;
    for (const SettingInfo& info : kSettings) {
        text << "  " << std::left << std::setw(16) << info.name << std::right << std::setw(4)
             << info.minimum << " to " << std::left << std::setw(4) << info.maximum << " default "
             << std::setw(4) << defaults.*info.field << " " << info.meaning << "\n";
    }
    return text.str();
}

}  // namespace bayercam::app
