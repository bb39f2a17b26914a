#include "app/tool/property_commands.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/tool/json_output.h"
#include "app/tool/property_arguments.h"

namespace bayercam::app {

namespace {

constexpr std::string_view kNumbers = "Numbers are decimal or 0x-hexadecimal.";

// A property's value with its published range, or a register's or memory byte's in hex.
WordValue propertyValue(Camera& camera, const std::string& name, std::int32_t value) {
    const PropertyInfo info = take(camera.property(name));
    WordValue result{std::string(info.name), value, std::nullopt, 0};
    if (info.ranged()) result.range = take(camera.range(std::to_string(info.id)));
    return result;
}

WordValue readWord(Camera& camera, const PropertyWord& word) {
    switch (word.kind) {
        case PropertyWord::Kind::kRegister:
            return {word.label(), take(camera.readRegister(word.index)), std::nullopt, 1};
        case PropertyWord::Kind::kMemory:
            return {word.label(), take(camera.readMemory(std::uint16_t(word.index))),
                    std::nullopt, 2};
        case PropertyWord::Kind::kProperty:
            break;
    }
    return propertyValue(camera, word.name, take(camera.get(word.name)));
}

}  // namespace

std::string WordValue::line() const {
    char text[96];
    if (hexDigits > 0) {
        std::snprintf(text, sizeof(text), " = 0x%0*llX (%lld)", hexDigits,
                      static_cast<unsigned long long>(value), static_cast<long long>(value));
        return label + text;
    }
    std::string result = label + " = " + std::to_string(value);
    if (range) {
        result += " (" + std::to_string(range->minimum) + " to " + std::to_string(range->maximum) +
                  ", default " + std::to_string(range->defaultValue) + ")";
    }
    return result;
}

nlohmann::ordered_json WordValue::json() const {
    nlohmann::ordered_json entry = {{"value", value}};
    if (range) {
        entry["minimum"] = range->minimum;
        entry["maximum"] = range->maximum;
        entry["default"] = range->defaultValue;
    }
    return entry;
}

void checkAssignment(Camera& camera, const PropertyWord& word) {
    if (word.kind == PropertyWord::Kind::kProperty) {
        take(camera.check(word.name, *word.value));
    } else if (*word.value < 0 || *word.value > 0xFFFFFFFF) {
        throw usageError("register values are 0 to 0xFFFFFFFF: " + word.label());
    }
}

WordValue applyAssignment(Camera& camera, const PropertyWord& word) {
    if (word.kind == PropertyWord::Kind::kRegister) {
        take(camera.writeRegister(word.index, std::uint32_t(*word.value)));
        return readWord(camera, word);
    }
    return propertyValue(camera, word.name, take(camera.set(word.name, *word.value)));
}

namespace {

nlohmann::ordered_json propertyJson(Camera& camera, const PropertyInfo& info) {
    nlohmann::ordered_json entry = {{"id", info.id},
                            {"name", info.name},
                            {"access", usableAccess(info)},
                            {"type", typeName(info.type)},
                            {"description", info.description}};
    if (!info.unit.empty()) entry["unit"] = info.unit;
    const std::string id = std::to_string(info.id);
    if (info.gettable()) entry["value"] = take(camera.get(id));
    if (info.limits) {
        entry["minimum"] = info.limits->minimum;
        entry["maximum"] = info.limits->maximum;
    }
    if (info.ranged()) {
        const Range range = take(camera.range(id));
        entry["minimum"] = range.minimum;
        entry["maximum"] = range.maximum;
        entry["default"] = range.defaultValue;
    }
    return entry;
}

std::string propertyRow(const nlohmann::ordered_json& entry) {
    char row[160];
    const std::string value = entry.contains("value") ? entry["value"].dump() : "-";
    std::snprintf(row, sizeof(row), "%3d  %-18s %-3s %10s", entry["id"].get<int>(),
                  entry["name"].get<std::string>().c_str(),
                  entry["access"].get<std::string>().c_str(), value.c_str());
    std::string text = row;
    if (entry.contains("minimum")) {
        text += "  (" + entry["minimum"].dump() + " to " + entry["maximum"].dump() +
                (entry.contains("default") ? ", default " + entry["default"].dump() : "") + ")";
    }
    return text;
}

}  // namespace

PropsCommand::PropsCommand(CLI::App& tool, const CameraChoice& choice)
    : command_(tool.add_subcommand(
          "props", "List every property: id, name, access, value and published range")),
      choice_(choice) {
    command_->add_flag("--json", json_, "The list as JSON");
}

void PropsCommand::run(std::ostream& out) const {
    std::unique_ptr<Camera> camera = choice_.open();
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const PropertyInfo& info : propertyCatalog()) list.push_back(propertyJson(*camera, info));
    if (json_) return printJson(out, list);
    out << " id  name               rw       value  range\n";
    for (const nlohmann::ordered_json& entry : list) out << propertyRow(entry) << "\n";
}

GetSetCommand::GetSetCommand(CLI::App& tool, const CameraChoice& choice, Verb verb)
    : command_(verb == Verb::kGet
                   ? tool.add_subcommand("get", "Read properties, registers or camera memory")
                   : tool.add_subcommand("set", "Change properties or write sensor registers")),
      choice_(choice),
      verb_(verb) {
    command_->add_flag("--json", json_, "The values as JSON, by name");
    if (verb == Verb::kGet) {
        command_->add_option("NAME", words_, "Property name or id, R[N] or M[ADDR]")->required();
        command_->footer(std::string(kNumbers) +
                         "\nExample:\n  bayercam get Exposure redgain R[6] M[0x10]");
    } else {
        command_->add_option("NAME=VALUE", words_, "Property, or R[N]=VALUE for register N")
            ->required();
        command_->footer(std::string(kNumbers) +
                         " Each value is printed as read back. Settings persist.\n"
                         "Example:\n  bayercam set Exposure=100 Brightness=300 R[6]=0x14");
    }
}

void GetSetCommand::run(std::ostream& out) const {
    std::vector<PropertyWord> words;
    for (const std::string& text : words_) {
        words.push_back(verb_ == Verb::kGet ? parsePropertyWord(text) : parseAssignment(text));
        if (verb_ == Verb::kGet && words.back().value) {
            throw usageError("get takes names, not assignments: " + inQuotes(text) +
                             " (use 'bayercam set')");
        }
        // Names are checked before the camera is opened: a typo costs nothing.
        if (words.back().kind == PropertyWord::Kind::kProperty)
            take(lookupProperty(words.back().name));
    }
    std::unique_ptr<Camera> camera = choice_.open();
    // Every assignment is checked before the first is written: all of them or none.
    for (const PropertyWord& word : words) {
        if (verb_ == Verb::kSet) checkAssignment(*camera, word);
    }
    nlohmann::ordered_json document = nlohmann::ordered_json::object();
    for (const PropertyWord& word : words) {
        const WordValue value =
            verb_ == Verb::kGet ? readWord(*camera, word) : applyAssignment(*camera, word);
        if (json_) {
            document[value.label] = value.json();
        } else {
            out << value.line() << "\n";
        }
    }
    if (json_) printJson(out, document);
}

}  // namespace bayercam::app
