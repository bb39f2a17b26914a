// Integers as a person types them on a command line: decimal or 0x-hexadecimal, optionally
// negative.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace bayercam::app {

// The value of text, or nothing when text is not a whole number that fits 64 bits.
std::optional<std::int64_t> parseInteger(std::string_view text);

}  // namespace bayercam::app
