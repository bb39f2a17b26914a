// The settings that act on the conversion of a raw frame, named as the driver stores them,
// with the ranges the driver limits them to.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "host/conversion/raw_frame_conversion.h"

namespace bayercam::app {

using ConversionSettings = host::ConversionSettings;

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
