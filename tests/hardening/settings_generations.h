// The settings values as settings_saver writes them: generation g stores g * 32 + i in the ith
// value of the store's order, so every stored value names the save it came from and its own
// place, and a value that is neither an old one nor one a save wrote shows at once.
#pragma once

#include <array>
#include <cstddef>

#include "driver/public/bayercam.h"

namespace bayercam::testing {

using Values = std::array<ULONG, CAMERA_SETTING_COUNT>;
static_assert(CAMERA_SETTING_COUNT <= 32, "the index must fit below the generation");

constexpr ULONG GenerationValue(ULONG generation, std::size_t index) {
    return generation * 32 + ULONG(index);
}

}  // namespace bayercam::testing
