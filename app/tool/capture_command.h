// bayercam capture: stream from the camera and write the frames to a folder.
#pragma once

#include <CLI/CLI.hpp>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "app/tool/camera_session.h"
#include "app/tool/capture_statistics.h"

namespace bayercam::app {

class CaptureCommand {
  public:
    CaptureCommand(CLI::App& tool, const CameraChoice& choice);

    bool selected() const { return command_->parsed(); }
    // Throws ToolError; progress goes to err when it is a terminal.
    void run(std::ostream& out, std::ostream& err) const;

  private:
    CaptureStatistics takeFrames(Camera& camera, const std::filesystem::path& folder,
                                 std::ostream& out, std::ostream* progress) const;

    CLI::App* command_;
    const CameraChoice& choice_;
    int frames_ = 10;
    std::string folder_ = ".";
    std::string format_ = "png";
    std::string roi_;
    std::vector<std::string> assignments_;
    bool verbose_ = false;
    bool json_ = false;
};

}  // namespace bayercam::app
