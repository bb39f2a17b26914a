// The words of get and set: a property name or id, R[N] (a sensor register), M[ADDR] (a byte of
// camera memory), each optionally followed by =VALUE. Numbers are decimal or 0x-hexadecimal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bayercam::app {

struct PropertyWord {
    enum class Kind { kProperty, kRegister, kMemory };
    Kind kind = Kind::kProperty;
    std::string name;         // kProperty: as typed
    std::uint32_t index = 0;  // kRegister, kMemory
    std::optional<std::int64_t> value;

    // How the word is shown in output: the name, R[6], M[0x0010].
    std::string label() const;
};

// Throws a usage ToolError that says what was expected.
PropertyWord parsePropertyWord(std::string_view text);
// As parsePropertyWord, but a value must be given.
PropertyWord parseAssignment(std::string_view text);

}  // namespace bayercam::app
