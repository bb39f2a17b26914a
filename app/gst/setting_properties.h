// The camera settings bayercamsrc publishes as properties: every setting the driver stores that
// its property set writes, under the tool's name in GStreamer's style ("GlobalGain" becomes
// "global-gain"), with the driver's published range and default. Switches are boolean
// properties. GObject wants the limits when the element's class is made, before any camera is
// open; the driver publishes them as constants, and a test holds this table to what the driver
// linked into the plugin publishes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "app/lib/camera.h"

namespace bayercam::app {

struct SettingProperty {
    std::string_view name;  // as the tool and the driver's settings store spell it
    const char* blurb;
    bool isSwitch;  // 0 or 1: a boolean property
    // The published range and default; for a setting without one, the whole 32-bit range and
    // the value a freshly opened simulated camera holds.
    Range range;
};

// In the order of the camera's property ids.
std::span<const SettingProperty> settingProperties();

// The index of a setting by its name; settingProperties().size() when there is none.
std::size_t settingIndex(std::string_view name);

// "GlobalGain" -> "global-gain", "FlipH" -> "flip-h".
std::string hyphenatedName(std::string_view name);

// The sensor's size, as the driver publishes it: the largest region.
constexpr std::int32_t kSensorWidth = 1360;
constexpr std::int32_t kSensorHeight = 1024;

}  // namespace bayercam::app
