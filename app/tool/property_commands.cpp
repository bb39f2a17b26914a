#include "app/tool/property_commands.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/tool/property_arguments.h"

namespace bayercam::app {

namespace {

constexpr std::string_view kNumbers = "Numbers are decimal or 0x-hexadecimal.";

std::string rangeText(const Range& range) {
    return std::to_string(range.minimum) + " to " + std::to_string(range.maximum) + ", default " +
           std::to_string(range.defaultValue);
}

// "Name = value" with the published range when there is one.
std::string propertyLine(Camera& camera, const PropertyInfo& info, std::int32_t value) {
    std::string line = std::string(info.name) + " = " + std::to_string(value);
    if (info.ranged()) line += " (" + rangeText(take(camera.range(std::to_string(info.id)))) + ")";
    return line;
}

std::string hexLine(const std::string& label, std::uint32_t value, int digits) {
    char text[64];
    std::snprintf(text, sizeof(text), "%s = 0x%0*X (%u)", label.c_str(), digits, value, value);
    return text;
}

std::string getWord(Camera& camera, const PropertyWord& word) {
    switch (word.kind) {
        case PropertyWord::Kind::kRegister:
            return hexLine(word.label(), take(camera.readRegister(word.index)), 1);
        case PropertyWord::Kind::kMemory:
            return hexLine(word.label(), take(camera.readMemory(std::uint16_t(word.index))), 2);
        case PropertyWord::Kind::kProperty:
            break;
    }
    const PropertyInfo info = take(camera.property(word.name));
    return propertyLine(camera, info, take(camera.get(word.name)));
}

}  // namespace

void checkAssignment(Camera& camera, const PropertyWord& word) {
    if (word.kind == PropertyWord::Kind::kProperty) {
        take(camera.check(word.name, *word.value));
    } else if (*word.value < 0 || *word.value > 0xFFFFFFFF) {
        throw usageError("register values are 0 to 0xFFFFFFFF: " + word.label());
    }
}

std::string applyAssignment(Camera& camera, const PropertyWord& word) {
    if (word.kind == PropertyWord::Kind::kRegister) {
        take(camera.writeRegister(word.index, std::uint32_t(*word.value)));
        return hexLine(word.label(), take(camera.readRegister(word.index)), 1);
    }
    const PropertyInfo info = take(camera.property(word.name));
    return propertyLine(camera, info, take(camera.set(word.name, *word.value)));
}

namespace {

nlohmann::json propertyJson(Camera& camera, const PropertyInfo& info) {
    nlohmann::json entry = {{"id", info.id},
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

std::string propertyRow(const nlohmann::json& entry) {
    char row[160];
    const std::string value = entry.contains("value") ? entry["value"].dump() : "-";
    std::snprintf(row, sizeof(row), "%3d  %-18s %-3s %10s", entry["id"].get<int>(),
                  entry["name"].get<std::string>().c_str(),
                  entry["access"].get<std::string>().c_str(), value.c_str());
    std::string text = row;
    if (entry.contains("minimum")) {
        text += "  (" + entry["minimum"].dump() + " to " + entry["maximum"].dump() + ", default " +
                entry["default"].dump() + ")";
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
    nlohmann::json list = nlohmann::json::array();
    for (const PropertyInfo& info : propertyCatalog()) list.push_back(propertyJson(*camera, info));
    if (json_) {
        out << list.dump(2) << "\n";
        return;
    }
    out << " id  name               rw       value  range\n";
    for (const nlohmann::json& entry : list) out << propertyRow(entry) << "\n";
}

GetSetCommand::GetSetCommand(CLI::App& tool, const CameraChoice& choice, Verb verb)
    : command_(verb == Verb::kGet
                   ? tool.add_subcommand("get", "Read properties, registers or camera memory")
                   : tool.add_subcommand("set", "Change properties or write sensor registers")),
      choice_(choice),
      verb_(verb) {
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
    for (const PropertyWord& word : words) {
        out << (verb_ == Verb::kGet ? getWord(*camera, word) : applyAssignment(*camera, word)) << "\n";
    }
}

}  // namespace bayercam::app
