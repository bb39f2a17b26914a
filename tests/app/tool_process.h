// Runs the bayercam executable as a separate process, as a user would.
#pragma once

#include <string>
#include <vector>

namespace bayercam::app::testing {

struct ToolRun {
    int exitCode = -1;  // -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// Runs bayercam with args (no shell involved) and collects its exit status and output.
ToolRun runBayercam(const std::vector<std::string>& args);

}  // namespace bayercam::app::testing
