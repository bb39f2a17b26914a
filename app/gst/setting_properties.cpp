#include "app/gst/setting_properties.h"

#include <array>
#include <cctype>
#include <limits>

namespace bayercam::app {

namespace {

constexpr std::int32_t kLeast = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMost = std::numeric_limits<std::int32_t>::max();
constexpr Range kOff{0, 1, 0};
constexpr Range kOn{0, 1, 1};

constexpr std::array<SettingProperty, 19> kSettings = {{
    {"ExTrigger", "Frames only when the external trigger fires", true, kOff},
    {"Timeout", "Time-out of a frame read in milliseconds", false, {kLeast, kMost, 3000}},
    {"Exposure", "Exposure time", false, {3, 1070, 3}},
    {"GlobalGain", "Sensor gain", false, {0, 1023, 512}},
    {"FlipH", "Mirror the picture left to right", true, kOff},
    {"FlipV", "Turn the picture upside down", true, kOff},
    {"ColorEnable", "Colour picture (off: grey)", true, kOn},
    {"WhiteBalance", "Measure grey-world gains on the frames and use them", true, kOff},
    {"RedGain", "Red gain, 128 = 1.0", false, {1, 512, 128}},
    {"GreenGain", "Green gain, 128 = 1.0", false, {1, 512, 128}},
    {"BlueGain", "Blue gain, 128 = 1.0", false, {1, 512, 128}},
    {"Brightness", "Brightness, 255 neutral", false, {0, 510, 255}},
    {"Contrast", "Contrast, 10 neutral", false, {0, 20, 10}},
    {"Saturation", "Saturation, 10 neutral, 0 grey", false, {0, 20, 10}},
    {"Hue", "Hue rotation in degrees", false, {0, 359, 0}},
    {"ColorCorrection", "Apply the sensor's colour correction matrix", true, kOn},
    {"Clock", "Sensor clock, as the camera answers a clock query", false, {kLeast, kMost, 1}},
    {"Agc", "Automatic gain control, as stored", false, {kLeast, kMost, 0}},
    {"Aec", "Automatic exposure control, as stored", false, {kLeast, kMost, 0}},
}};

}  // namespace

std::span<const SettingProperty> settingProperties() { return kSettings; }

std::size_t settingIndex(std::string_view name) {
    std::size_t i = 0;
    while (i < kSettings.size() && kSettings[i].name != name) ++i;
    return i;
}

std::string hyphenatedName(std::string_view name) {
    std::string result;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (std::isupper(c) && i > 0) result += '-';
        result += static_cast<char>(std::tolower(c));
    }
    return result;
}

}  // namespace bayercam::app
