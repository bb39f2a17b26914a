#include "bench/soak/property_shaker.h"

#include <array>
#include <string_view>

namespace bayercam::soak {

namespace {

// Settings that may change while frames stream, with a published range.
constexpr std::array<std::string_view, 9> kRanged = {
    "Exposure",   "GlobalGain", "RedGain",    "GreenGain", "BlueGain",
    "Brightness", "Contrast",   "Saturation", "Hue",
};
// Switches that may change while frames stream.
constexpr std::array<std::string_view, 4> kSwitches = {"FlipH", "FlipV", "ColorEnable",
                                                       "WhiteBalance"};

}  // namespace

Result<PropertyShaker> PropertyShaker::make(Camera& camera, std::uint64_t seed) {
    std::vector<Knob> knobs;
    for (std::string_view name : kRanged) {
        Result<Range> range = camera.range(name);
        if (!range) return range.error();
        knobs.push_back(Knob{std::string(name), range.value()});
    }
    for (std::string_view name : kSwitches) knobs.push_back(Knob{std::string(name), Range{0, 1}});
    return PropertyShaker(std::move(knobs), seed);
}

Result<std::string> PropertyShaker::changeOne(Camera& camera) {
    const Knob& knob =
        knobs_[std::uniform_int_distribution<std::size_t>(0, knobs_.size() - 1)(random_)];
    const std::int64_t value = std::uniform_int_distribution<std::int64_t>(
        knob.range.minimum, knob.range.maximum)(random_);
    Result<std::int32_t> set = camera.set(knob.name, value);
    if (!set) return set.error();
    return knob.name + " " + std::to_string(value);
}

}  // namespace bayercam::soak
