#include "app/tool/settings_command.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "app/tool/device_commands.h"
#include "app/tool/json_output.h"
#include "app/tool/name_matching.h"
#include "app/tool/output_file.h"
#include "app/tool/property_commands.h"

namespace bayercam::app {

namespace {

// Stored setting values by their index in storedSettings().
using SettingValues = std::map<std::size_t, std::int32_t>;

std::size_t settingIndex(const std::string& name, const std::string& file) {
    const std::span<const StoredSetting> settings = storedSettings();
    std::vector<std::string_view> names;
    for (std::size_t i = 0; i < settings.size(); ++i) {
        if (equalsIgnoringCase(settings[i].name, name)) return i;
        names.push_back(settings[i].name);
    }
    const std::vector<std::string> matches = closeMatches(name, names);
    throw usageError(inQuotes(file) + " names an unknown setting " + inQuotes(name) +
                     (matches.empty() ? "" : "; did you mean " + joinAlternatives(matches) + "?"));
}

SettingValues readSettingsFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw failure("cannot read " + inQuotes(file) + ": " + std::strerror(errno));
    const nlohmann::json document = nlohmann::json::parse(in, nullptr, false);
    if (!document.is_object()) {
        throw usageError(inQuotes(file) +
                         " is not a JSON object of settings, as 'bayercam settings export' "
                         "writes");
    }
    SettingValues values;
    for (const auto& [name, value] : document.items()) {
        const std::size_t index = settingIndex(name, file);
        if (!value.is_number_integer() || value.get<std::int64_t>() != value.get<std::int32_t>()) {
            throw usageError(inQuotes(file) + ": " + name + " must be a whole number, not " +
                             value.dump());
        }
        values[index] = value.get<std::int32_t>();
    }
    return values;
}

SettingValues loadDefaults() {
    SettingValues values;
    const std::span<const StoredSetting> settings = storedSettings();
    for (std::size_t i = 0; i < settings.size(); ++i) values[i] = settings[i].loadDefault;
    return values;
}

// The field of the region a stored value (RoiX, RoiY, RoiW, RoiH) holds.
std::int32_t& regionField(Region& region, std::string_view name) {
    if (name == "RoiX") return region.x;
    if (name == "RoiY") return region.y;
    return name == "RoiW" ? region.width : region.height;
}

// Checks every value first, then applies them: all of them or none. Settings the driver keeps
// but never applies (AGC, AEC, Clock, SubSample) are left to it.
void applySettings(Camera& camera, const SettingValues& values, std::ostream& out) {
    const std::span<const StoredSetting> settings = storedSettings();
    std::vector<PropertyWord> words;
    std::optional<Region> region;
    for (const auto& [index, value] : values) {
        const StoredSetting& setting = settings[index];
        if (!setting.applied) continue;
        if (!setting.propertyId) {
            if (!region) region = take(camera.roi());
            regionField(*region, setting.name) = value;
            continue;
        }
        PropertyWord word;
        word.name = std::to_string(*setting.propertyId);
        word.value = value;
        words.push_back(word);
    }
    for (const PropertyWord& word : words) checkAssignment(camera, word);
    if (region) take(camera.checkRoi(*region));
    for (const PropertyWord& word : words) out << applyAssignment(camera, word).line() << "\n";
    if (region) {
        take(camera.setRoi(*region));
        out << regionReport(camera);
    }
}

nlohmann::ordered_json exportSettings(Camera& camera) {
    nlohmann::ordered_json document = nlohmann::ordered_json::object();
    Region region = take(camera.roi());
    for (const StoredSetting& setting : storedSettings()) {
        document[std::string(setting.name)] =
            setting.propertyId ? take(camera.get(std::to_string(*setting.propertyId)))
                               : regionField(region, setting.name);
    }
    return document;
}

}  // namespace

SettingsCommand::SettingsCommand(CLI::App& tool, const CameraChoice& choice)
    : command_(tool.add_subcommand("settings", "The stored settings as a file, and the defaults")),
      choice_(choice) {
    command_->require_subcommand(1);
    export_ = command_->add_subcommand("export", "Every stored setting as JSON");
    export_->add_option("FILE", exportFile_, "Where to write it (default: standard output)");
    import_ = command_->add_subcommand(
        "import", "Check every setting in a file, then apply and store them all");
    import_->add_option("FILE", importFile_, "JSON as 'settings export' writes it")->required();
    reset_ = command_->add_subcommand(
        "reset", "Apply and store the defaults the driver loads when nothing is stored");
    command_->footer(
        "Settings are named as the driver stores them (Timeout, Exposure, ..., RoiX, RoiW).\n"
        "Example:\n  bayercam settings export day.json && bayercam settings import day.json");
}

void SettingsCommand::run(std::ostream& out) const {
    const SettingValues values =
        import_->parsed() ? readSettingsFile(importFile_) : SettingValues{};
    std::unique_ptr<Camera> camera = choice_.open();
    if (reset_->parsed()) return applySettings(*camera, loadDefaults(), out);
    if (import_->parsed()) return applySettings(*camera, values, out);
    const nlohmann::ordered_json document = exportSettings(*camera);
    if (exportFile_.empty() || exportFile_ == "-") return printJson(out, document);
    OutputFile file(exportFile_);
    const std::string text = document.dump(2) + "\n";
    file.write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    file.commit();
    out << "exported " << document.size() << " settings to " << exportFile_ << "\n";
}

}  // namespace bayercam::app
