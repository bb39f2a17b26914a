// bayercam roi and info: the region of interest, and what the camera and driver offer.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "app/tool/camera_session.h"

namespace bayercam::app {

// "region: x 16, y 8, width 640, height 480" and "picture: 640x480", each on a line.
std::string regionReport(Camera& camera);

class RoiCommand {
  public:
    RoiCommand(CLI::App& tool, const CameraChoice& choice);
    bool selected() const { return command_->parsed(); }
    void run(std::ostream& out) const;

  private:
    CLI::App* command_;
    const CameraChoice& choice_;
    std::vector<std::string> numbers_;
    bool json_ = false;
};

class InfoCommand {
  public:
    InfoCommand(CLI::App& tool, const CameraChoice& choice);
    bool selected() const { return command_->parsed(); }
    void run(std::ostream& out) const;

  private:
    CLI::App* command_;
    const CameraChoice& choice_;
    bool json_ = false;
};

}  // namespace bayercam::app
