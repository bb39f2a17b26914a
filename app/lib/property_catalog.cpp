#include "app/lib/property_catalog.h"

#include <array>
#include <charconv>
#include <vector>

#include "app/tool/name_matching.h"

namespace bayercam {

namespace {

constexpr PropertyInfo property(std::uint32_t id, std::string_view name, Access access,
                                ValueType type, std::string_view description,
                                std::string_view unit = {}) {
    return PropertyInfo{id, name, access, type, description, unit, {}, {}, {}, {}};
}

// A setting whose minimum, maximum and default are published as the three ids from firstLimit.
constexpr PropertyInfo ranged(std::uint32_t id, std::string_view name, std::uint32_t firstLimit,
                              std::string_view description, std::string_view unit = {}) {
    PropertyInfo info = property(id, name, Access::kReadWrite, ValueType::kNumber, description, unit);
    info.minimumId = firstLimit;
    info.maximumId = firstLimit + 1;
    info.defaultId = firstLimit + 2;
    return info;
}

constexpr PropertyInfo limited(std::uint32_t id, std::string_view name, ValueType type,
                               Limits limits, std::string_view description,
                               std::string_view unit = {}) {
    PropertyInfo info = property(id, name, Access::kReadWrite, type, description, unit);
    info.limits = limits;
    return info;
}

constexpr PropertyInfo onOff(std::uint32_t id, std::string_view name,
                             std::string_view description) {
    return limited(id, name, ValueType::kSwitch, {0, 1}, description);
}

constexpr PropertyInfo constant(std::uint32_t id, std::string_view name,
                                std::string_view description, std::string_view unit = {}) {
    return property(id, name, Access::kRead, ValueType::kConstant, description, unit);
}

constexpr auto kRW = Access::kReadWrite;
constexpr auto kR = Access::kRead;
constexpr auto kW = Access::kWrite;

// The register write and the raw packet refuse reads, so they are listed as write only.
constexpr std::array<PropertyInfo, 69> kCatalog = {{
    onOff(0, "ExTrigger", "1: the camera sends a frame only when triggered"),
    limited(1, "Timeout", ValueType::kNumber, {501, 9999},
            "longest wait for one frame from the camera", "ms"),
    ranged(2, "Exposure", 3, "sensor exposure: larger is brighter"),
    constant(3, "ExposureMin", "smallest Exposure"),
    constant(4, "ExposureMax", "largest Exposure"),
    constant(5, "ExposureDefault", "published default of Exposure"),
    ranged(6, "GlobalGain", 7,
           "sensor gain: the picture is 1 + GlobalGain/128 times as bright as at 0, the "
           "stored default (512 is five times)"),
    constant(7, "GlobalGainMin", "smallest GlobalGain"),
    constant(8, "GlobalGainMax", "largest GlobalGain"),
    constant(9, "GlobalGainDefault", "published default of GlobalGain; the store starts at 0"),
    onOff(10, "FlipH", "1: each row mirrored"),
    onOff(11, "FlipV", "1: the picture upside down"),
    onOff(12, "ColorEnable", "0: grey picture"),
    onOff(13, "WhiteBalance", "1: grey-world gains measured on every frame"),
    ranged(14, "RedGain", 17, "red gain, 128 = 1.0", "1/128"),
    ranged(15, "GreenGain", 17, "green gain, 128 = 1.0", "1/128"),
    ranged(16, "BlueGain", 17, "blue gain, 128 = 1.0", "1/128"),
    constant(17, "ColorGainMin", "smallest colour gain", "1/128"),
    constant(18, "ColorGainMax", "largest colour gain", "1/128"),
    constant(19, "ColorGainDefault", "published default of the colour gains", "1/128"),
    ranged(20, "Brightness", 21, "255 neutral"),
    constant(21, "BrightnessMin", "smallest Brightness"),
    constant(22, "BrightnessMax", "largest Brightness"),
    constant(23, "BrightnessDefault", "published default of Brightness"),
    ranged(24, "Contrast", 25, "10 neutral"),
    constant(25, "ContrastMin", "smallest Contrast"),
    constant(26, "ContrastMax", "largest Contrast"),
    constant(27, "ContrastDefault", "published default of Contrast"),
    ranged(28, "Saturation", 29, "10 neutral, 0 grey"),
    constant(29, "SaturationMin", "smallest Saturation"),
    constant(30, "SaturationMax", "largest Saturation"),
    constant(31, "SaturationDefault", "published default of Saturation"),
    ranged(32, "Hue", 33, "rotation of the colours", "degrees"),
    constant(33, "HueMin", "smallest Hue", "degrees"),
    constant(34, "HueMax", "largest Hue", "degrees"),
    constant(35, "HueDefault", "published default of Hue", "degrees"),
    constant(36, "Property36", "always 0"),
    property(37, "SubSample", kR, ValueType::kReading, "sub-sampling mode: 0, no effect"),
    constant(38, "SensorWidth", "sensor width", "pixels"),
    constant(39, "SensorHeight", "sensor height", "pixels"),
    property(40, "FullFrameX", kR, ValueType::kReading, "left edge of the sensor window", "pixels"),
    property(41, "FullFrameY", kR, ValueType::kReading, "top edge of the sensor window", "pixels"),
    property(42, "FullFrameWidth", kR, ValueType::kReading, "sensor window width", "pixels"),
    property(43, "FullFrameHeight", kR, ValueType::kReading, "sensor window height", "pixels"),
    property(44, "Roi", kW, ValueType::kRegion, "the region of interest: bayercam roi"),
    property(45, "RoiLocked", kR, ValueType::kReading, "1 while streaming: the region is fixed"),
    constant(46, "Property46", "always 1"),
    property(47, "Property47", kW, ValueType::kIgnored, "takes writes and does nothing"),
    onOff(48, "ColorCorrection", "1: the sensor's colour correction matrix"),
    property(49, "Clock", kRW, ValueType::kReading, "clock mode the camera reports"),
    constant(50, "Property50", "always 0"),
    constant(51, "Property51", "always 1"),
    constant(52, "Property52", "always 1"),
    constant(53, "Property53", "always 0"),
    constant(54, "Property54", "always 0"),
    property(55, "Agc", kRW, ValueType::kReading, "automatic gain: stored, never applied"),
    property(56, "Aec", kRW, ValueType::kReading, "automatic exposure: stored, never applied"),
    property(57, "RegisterWrite", kW, ValueType::kRegister, "sensor register write: R[N]=VALUE"),
    property(58, "RegisterRead", kRW, ValueType::kReading,
             "last value written to the register last chosen: get R[N]"),
    property(59, "RawPacket", kW, ValueType::kPacket, "a raw command packet to the camera"),
    property(60, "CameraByte", kRW, ValueType::kPacket, "one byte of camera memory: get M[ADDR]"),
    constant(61, "Property61", "always 0"),
    constant(62, "Property62", "always 0"),
    property(63, "Property63", kRW, ValueType::kIgnored, "reads 0, takes writes and does nothing"),
    property(64, "Property64", kRW, ValueType::kIgnored, "reads 0, takes writes and does nothing"),
    property(65, "Property65", kRW, ValueType::kIgnored, "reads 0, takes writes and does nothing"),
    property(66, "Property66", kRW, ValueType::kIgnored, "reads 0, takes writes and does nothing"),
    property(67, "Reinitialize", kW, ValueType::kAction,
             "any value: program the sensor again and reload the stored settings"),
    constant(68, "Property68", "always 0"),
}};

// In the order the driver loads them, with the defaults it loads when a value is missing.
constexpr std::array<StoredSetting, 24> kStoredSettings = {{
    {"Timeout", 1, 3000, true},
    {"Exposure", 2, 3, true},
    {"GlobalGain", 6, 0, true},
    {"FlipH", 10, 0, true},
    {"FlipV", 11, 0, true},
    {"ColorEnable", 12, 1, true},
    {"WhiteBalance", 13, 0, true},
    {"ColorCorrection", 48, 1, true},
    {"Brightness", 20, 255, true},
    {"Contrast", 24, 10, true},
    {"Saturation", 28, 10, true},
    {"Hue", 32, 0, true},
    {"RedGain", 14, 128, true},
    {"GreenGain", 15, 128, true},
    {"BlueGain", 16, 128, true},
    {"AGC", 55, 0, false},
    {"AEC", 56, 0, false},
    {"Clock", 49, 1, false},
    {"ExTrigger", 0, 0, true},
    {"SubSample", 37, 0, false},
    {"RoiX", {}, 0, true},
    {"RoiY", {}, 0, true},
    {"RoiW", {}, 1360, true},
    {"RoiH", {}, 1024, true},
}};

std::vector<std::string_view> catalogNames() {
    std::vector<std::string_view> names;
    for (const PropertyInfo& info : kCatalog) names.push_back(info.name);
    return names;
}

}  // namespace

ValueLayout PropertyInfo::layout() const {
    switch (type) {
        case ValueType::kRegion:
            return ValueLayout::kRegion;
        case ValueType::kRegister:
            return ValueLayout::kRegister;
        case ValueType::kPacket:
            return ValueLayout::kPacket;
        default:
            return ValueLayout::kPlain;
    }
}

bool PropertyInfo::settable() const {
    return writable() && (type == ValueType::kSwitch || type == ValueType::kNumber ||
                          type == ValueType::kAction);
}

std::span<const PropertyInfo> propertyCatalog() { return kCatalog; }

const PropertyInfo* findProperty(std::string_view nameOrId) {
    std::uint32_t id = 0;
    const char* end = nameOrId.data() + nameOrId.size();
    const auto [stop, error] = std::from_chars(nameOrId.data(), end, id);
    if (error == std::errc() && stop == end && !nameOrId.empty()) {
        return id < kCatalog.size() ? &kCatalog[id] : nullptr;
    }
    for (const PropertyInfo& info : kCatalog) {
        if (app::equalsIgnoringCase(info.name, nameOrId)) return &info;
    }
    return nullptr;
}

Result<PropertyInfo> lookupProperty(std::string_view nameOrId) {
    if (const PropertyInfo* info = findProperty(nameOrId)) return *info;
    const std::vector<std::string_view> names = catalogNames();
    const std::string matches = app::joinAlternatives(app::closeMatches(nameOrId, names));
    return Error{
        "unknown property '" + std::string(nameOrId) + "'" +
            (matches.empty() ? "; 'bayercam props' lists them" : "; did you mean " + matches + "?"),
        Error::Kind::kBadValue};
}

std::string_view accessName(Access access) {
    switch (access) {
        case Access::kRead:
            return "r";
        case Access::kWrite:
            return "w";
        case Access::kReadWrite:
            return "rw";
    }
    return "?";
}

std::string_view usableAccess(const PropertyInfo& info) {
    if (info.gettable()) return info.settable() ? "rw" : "r";
    return info.settable() ? "w" : "-";
}

std::string_view typeName(ValueType type) {
    constexpr std::array<std::string_view, 9> kNames = {
        "switch", "number", "constant", "reading", "ignored",
        "action", "region", "register", "packet"};
    return kNames[static_cast<std::size_t>(type)];
}

std::span<const StoredSetting> storedSettings() { return kStoredSettings; }

bool changesStoredSettings(const PropertyInfo& info) {
    if (info.type == ValueType::kRegion) return true;
    for (const StoredSetting& setting : kStoredSettings) {
        if (setting.propertyId == info.id && setting.applied) return true;
    }
    return false;
}

}  // namespace bayercam
