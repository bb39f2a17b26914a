// The settings that act on the conversion of a raw frame, named as the driver stores them,
// with the ranges the driver limits them to.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace bayercam::app {

// Starts at the values a freshly started camera converts with.
struct ConversionSettings {
    std::int32_t colorEnable = 1;   // 0: grey picture
    std::int32_t whiteBalance = 0;  // 1: measure the gains on the frame itself
    std::int32_t redGain = 128;     // units of 1/128
    std::int32_t greenGain = 128;
    std::int32_t blueGain = 128;
    std::int32_t colorCorrection = 1;
    std::int32_t brightness = 255;  // 255 neutral
    std::int32_t contrast = 10;     // 10 neutral
    std::int32_t saturation = 10;   // 10 neutral
    std::int32_t hue = 0;           // degrees

    bool operator==(const ConversionSettings&) const = default;
};

struct SettingInfo {
    std::string_view name;  // the stored setting's name
    std::int32_t minimum;
    std::int32_t maximum;
    std::int32_t ConversionSettings::*field;
    std::string_view meaning;
};

// Every setting that convert accepts, in the order the driver applies them.
std::span<const SettingInfo> conversionSettingTable();

// Applies "NAME=VALUE" (name case-insensitive, value decimal or 0x-hex). Throws a usage
// ToolError that names close matches for an unknown name and states the range of a value
// outside it.
void applySettingAssignment(ConversionSettings& settings, std::string_view assignment);

// One line per setting: name, range, default and meaning, for the help text.
std::string describeConversionSettings();

}  // namespace bayercam::app
