#include "app/lib/property_catalog.h"

#include <array>
#include <charconv>
#include <vector>

#include "app/tool/name_matching.h"

namespace bayercam {

namespace {

// id, name, verbs, value layout, ids of minimum, maximum, default. The register write and the
// raw packet refuse reads, so they are listed as write only.
constexpr std::array<PropertyInfo, 69> kCatalog = {{
    {0, "ExTrigger", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {1, "Timeout", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {2, "Exposure", Access::kReadWrite, ValueLayout::kPlain, 3, 4, 5},
    {3, "ExposureMin", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {4, "ExposureMax", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {5, "ExposureDefault", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {6, "GlobalGain", Access::kReadWrite, ValueLayout::kPlain, 7, 8, 9},
    {7, "GlobalGainMin", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {8, "GlobalGainMax", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {9, "GlobalGainDefault", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {10, "FlipH", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {11, "FlipV", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {12, "ColorEnable", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {13, "WhiteBalance", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {14, "RedGain", Access::kReadWrite, ValueLayout::kPlain, 17, 18, 19},
    {15, "GreenGain", Access::kReadWrite, ValueLayout::kPlain, 17, 18, 19},
    {16, "BlueGain", Access::kReadWrite, ValueLayout::kPlain, 17, 18, 19},
    {17, "ColorGainMin", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {18, "ColorGainMax", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {19, "ColorGainDefault", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {20, "Brightness", Access::kReadWrite, ValueLayout::kPlain, 21, 22, 23},
    {21, "BrightnessMin", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {22, "BrightnessMax", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {23, "BrightnessDefault", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {24, "Contrast", Access::kReadWrite, ValueLayout::kPlain, 25, 26, 27},
    {25, "ContrastMin", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {26, "ContrastMax", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {27, "ContrastDefault", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {28, "Saturation", Access::kReadWrite, ValueLayout::kPlain, 29, 30, 31},
    {29, "SaturationMin", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {30, "SaturationMax", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {31, "SaturationDefault", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {32, "Hue", Access::kReadWrite, ValueLayout::kPlain, 33, 34, 35},
    {33, "HueMin", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {34, "HueMax", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {35, "HueDefault", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {36, "Property36", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {37, "SubSample", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {38, "SensorWidth", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {39, "SensorHeight", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {40, "FullFrameX", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {41, "FullFrameY", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {42, "FullFrameWidth", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {43, "FullFrameHeight", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {44, "Roi", Access::kWrite, ValueLayout::kRegion, {}, {}, {}},
    {45, "RoiLocked", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {46, "Property46", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {47, "Property47", Access::kWrite, ValueLayout::kPlain, {}, {}, {}},
    {48, "ColorCorrection", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {49, "Clock", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {50, "Property50", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {51, "Property51", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {52, "Property52", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {53, "Property53", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {54, "Property54", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {55, "Agc", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {56, "Aec", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {57, "RegisterWrite", Access::kWrite, ValueLayout::kRegister, {}, {}, {}},
    {58, "RegisterRead", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {59, "RawPacket", Access::kWrite, ValueLayout::kPacket, {}, {}, {}},
    {60, "CameraByte", Access::kReadWrite, ValueLayout::kPacket, {}, {}, {}},
    {61, "Property61", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {62, "Property62", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
    {63, "Property63", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {64, "Property64", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {65, "Property65", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {66, "Property66", Access::kReadWrite, ValueLayout::kPlain, {}, {}, {}},
    {67, "Reinitialize", Access::kWrite, ValueLayout::kPlain, {}, {}, {}},
    {68, "Property68", Access::kRead, ValueLayout::kPlain, {}, {}, {}},
}};

std::vector<std::string_view> catalogNames() {
    std::vector<std::string_view> names;
    for (const PropertyInfo& info : kCatalog) names.push_back(info.name);
    return names;
}

}  // namespace

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

}  // namespace bayercam
