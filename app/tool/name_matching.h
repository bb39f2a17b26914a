// Case-insensitive name lookup with suggestions for a mistyped name.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bayercam::app {

bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The candidates a person probably meant by name, best first: those within a few typing
// mistakes of it, and those that contain it or that it contains ("gain" finds every gain).
std::vector<std::string> closeMatches(std::string_view name,
                                      std::span<const std::string_view> candidates);

// "A, B or C"; empty for no names.
std::string joinAlternatives(std::span<const std::string> names);

}  // namespace bayercam::app
