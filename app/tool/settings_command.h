// bayercam settings export [FILE], import FILE and reset: the stored settings as a JSON file,
// taken back whole or not at all, and the driver's defaults.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>
#include <string>

#include "app/tool/camera_session.h"

namespace bayercam::app {

class SettingsCommand {
  public:
    SettingsCommand(CLI::App& tool, const CameraChoice& choice);
    bool selected() const { return command_->parsed(); }
    void run(std::ostream& out) const;

  private:
    CLI::App* command_;
    CLI::App* export_;
    CLI::App* import_;
    CLI::App* reset_;
    const CameraChoice& choice_;
    std::string exportFile_;
    std::string importFile_;
};

}  // namespace bayercam::app
