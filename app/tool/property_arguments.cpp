#include "app/tool/property_arguments.h"

#include <cstdio>

#include "app/tool/number_parse.h"
#include "app/tool/tool_error.h"

namespace bayercam::app {

namespace {

std::int64_t parseValue(std::string_view text, std::string_view word) {
    const std::optional<std::int64_t> value = parseInteger(text);
    if (!value) {
        throw usageError("bad value in " + inQuotes(word) +
                         ": expected a whole number, decimal or 0x-hexadecimal");
    }
    return *value;
}

// "R[N]" or "M[ADDR]" with the number in brackets; nothing when target is neither form.
std::optional<PropertyWord> parseIndexed(std::string_view target, std::string_view word) {
    if (target.size() < 2 || target[1] != '[' ||
        (target[0] != 'R' && target[0] != 'M' && target[0] != 'r' && target[0] != 'm')) {
        return std::nullopt;
    }
    const bool memory = target[0] == 'M' || target[0] == 'm';
    const std::optional<std::int64_t> index =
        target.back() == ']' ? parseInteger(target.substr(2, target.size() - 3)) : std::nullopt;
    const std::int64_t limit = memory ? 0xFFFF : 1023;
    if (!index || *index < 0 || *index > limit) {
        throw usageError("bad " + std::string(memory ? "memory address" : "register") + " in " +
                         inQuotes(word) + ": expected " +
                         (memory ? "M[0 to 0xFFFF]" : "R[0 to 1023]"));
    }
    PropertyWord parsed;
    parsed.kind = memory ? PropertyWord::Kind::kMemory : PropertyWord::Kind::kRegister;
    parsed.index = static_cast<std::uint32_t>(*index);
    return parsed;
}

}  // namespace

PropertyWord parsePropertyWord(std::string_view text) {
    const std::size_t equals = text.find('=');
    const std::string_view target = text.substr(0, equals);
    if (target.empty()) throw usageError("missing property name in " + inQuotes(text));
    PropertyWord word;
    if (std::optional<PropertyWord> indexed = parseIndexed(target, text)) {
        word = *indexed;
    } else {
        word.name = std::string(target);
    }
    if (equals != std::string_view::npos) {
        if (word.kind == PropertyWord::Kind::kMemory) {
            throw usageError("camera memory is read only: " + inQuotes(text));
        }
        word.value = parseValue(text.substr(equals + 1), text);
    }
    return word;
}

PropertyWord parseAssignment(std::string_view text) {
    PropertyWord word = parsePropertyWord(text);
    if (!word.value) throw usageError("expected NAME=VALUE, got " + inQuotes(text));
    return word;
}

std::string PropertyWord::label() const {
    char text[24];
    switch (kind) {
        case Kind::kRegister:
            std::snprintf(text, sizeof(text), "R[%u]", index);
            return text;
        case Kind::kMemory:
            std::snprintf(text, sizeof(text), "M[0x%04X]", index);
            return text;
        case Kind::kProperty:
            break;
    }
    return name;
}

}  // namespace bayercam::app
