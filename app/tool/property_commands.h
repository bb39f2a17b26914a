// bayercam props, get and set: the camera's properties listed, read and changed by name.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "app/tool/camera_session.h"
#include "app/tool/property_arguments.h"

namespace bayercam::app {

// NAME=VALUE or R[N]=VALUE: checked (a usage ToolError when the camera would not take it as
// given), and applied, which gives the line that shows the value read back.
void checkAssignment(Camera& camera, const PropertyWord& word);
std::string applyAssignment(Camera& camera, const PropertyWord& word);

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
};

}  // namespace bayercam::app
