// bayercam props, get and set: the camera's properties listed, read and changed by name.
#pragma once

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/tool/camera_session.h"
#include "app/tool/property_arguments.h"

namespace bayercam::app {

// A value as get and set show it: "Exposure = 100 (3 to 1070, default 3)", "R[35] = 0x2A (42)".
struct WordValue {
    std::string label;
    std::int64_t value;
    std::optional<Range> range;  // a published range
    int hexDigits;               // 0: decimal
    std::string line() const;
    nlohmann::ordered_json json() const;  // {"value": ..., "minimum": ..., ...}
};

// NAME=VALUE or R[N]=VALUE: checked (a usage ToolError when the camera would not take it as
// given), and applied, which gives the value read back.
void checkAssignment(Camera& camera, const PropertyWord& word);
WordValue applyAssignment(Camera& camera, const PropertyWord& word);

class PropsCommand {
  public:
    PropsCommand(CLI::App& tool, const CameraChoice& choice);
    bool selected() const { return command_->parsed(); }
    void run(std::ostream& out) const;

  private:
    CLI::App* command_;
    const CameraChoice& choice_;
    bool json_ = false;
};

// get NAME... and set NAME=VALUE...: one class, the verb chosen at construction.
class GetSetCommand {
  public:
    enum class Verb { kGet, kSet };
    GetSetCommand(CLI::App& tool, const CameraChoice& choice, Verb verb);
    bool selected() const { return command_->parsed(); }
    void run(std::ostream& out) const;

  private:
    CLI::App* command_;
    const CameraChoice& choice_;
    Verb verb_;
    std::vector<std::string> words_;
    bool json_ = false;
};

}  // namespace bayercam::app
