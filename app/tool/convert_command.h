// bayercam convert: a raw Bayer file to PNG or BGRA with the driver's conversion.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/tool/convert_arguments.h"

namespace bayercam::app {

class ConvertCommand {
  public:
    // Registers the subcommand and its options on the tool.
    explicit ConvertCommand(CLI::App& tool);

    bool selected() const { return command_->parsed(); }

    // Carries out a parsed command line, reporting to out (to err when the picture goes to
    // standard output); throws ToolError.
    void run(std::ostream& out, std::ostream& err) const;

  private:
    CLI::App* command_;
    std::string input_;
    std::string output_;
    std::string size_;
    std::string phase_ = std::to_string(kSensorBayerPhase);
    std::optional<std::string> format_;
    std::vector<std::string> assignments_;
    bool json_ = false;
};

}  // namespace bayercam::app
