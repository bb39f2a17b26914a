// bayercam list: every camera the tool could open, and why one cannot be.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>

namespace bayercam::app {

class ListCommand {
  public:
    explicit ListCommand(CLI::App& tool);
    bool selected() const { return command_->parsed(); }
    void run(std::ostream& out) const;

  private:
    CLI::App* command_;
    bool json_ = false;
};

}  // namespace bayercam::app
