// The settings values as settings_saver writes them: generation g stores g * 32 + i in the ith
// value of the store's order, so every stored value names the save it came from and its own
// place, and a value that is neither an old one nor one a save wrote shows at once.
#pragma once

#include <cstddef>

#include "platform/kernel.h"

namespace bayercam::testing {

// The values in the order SaveSettings writes them.
constexpr PCWSTR kSettingNames[] = {
    L"Timeout",      L"Exposure",        L"GlobalGain", L"FlipH",    L"FlipV",      L"ColorEnable",
    L"WhiteBalance", L"ColorCorrection", L"Brightness", L"Contrast", L"Saturation", L"Hue",
    L"RedGain",      L"GreenGain",       L"BlueGain",   L"AGC",      L"AEC",        L"Clock",
    L"ExTrigger",    L"SubSample",       L"RoiX",       L"RoiY",     L"RoiW",       L"RoiH",
};
constexpr std::size_t kSettingCount = std::size(kSettingNames);
static_assert(kSettingCount <= 32, "the index must fit below the generation");

constexpr ULONG GenerationValue(ULONG generation, std::size_t index) {
    return generation * 32 + ULONG(index);
}

}  // namespace bayercam::testing
