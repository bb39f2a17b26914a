// bayercam capture: stream from the camera and write the frames to a folder, a file or a
// stream, until a count, a duration or Ctrl-C ends the run.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/tool/camera_session.h"
#include "app/tool/capture_output.h"
#include "app/tool/capture_statistics.h"
#include "app/tool/frame_metadata.h"
#include "app/tool/frame_patience.h"
#include "app/tool/stop_request.h"

namespace bayercam::app {

class CaptureCommand {
  public:
    CaptureCommand(CLI::App& tool, const CameraChoice& choice);

    bool selected() const { return command_->parsed(); }
    // Throws ToolError; returns the exit status: 0, or 128 + the signal that stopped a counted
    // run (a continuous run that a signal ends exits with 0).
    int run(std::ostream& out, std::ostream& err) const;

  private:
    // What holds for every frame of the run.
    struct RunSetting {
        FramePatience patience;
        FrameMetadata metadata;  // exposure, gain and region
    };
    std::uint64_t frameCount(const CaptureOutput& output) const;
    CaptureStatistics takeFrames(Camera& camera, CaptureOutput& output, MetadataLog* log,
                                 const RunSetting& setting, const StopRequest& stop,
                                 std::ostream& lines, std::ostream* progress) const;

    CLI::App* command_;
    CLI::Option* framesOption_;
    const CameraChoice& choice_;
    std::uint64_t frames_ = 10;
    std::optional<double> duration_;
    std::string output_ = ".";
    std::optional<std::string> format_;
    std::string roi_;
    std::vector<std::string> assignments_;
    std::string metadata_;
    bool verbose_ = false;
    bool json_ = false;
};

}  // namespace bayercam::app
