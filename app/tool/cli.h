// The bayercam command line: parses, runs the chosen command, reports errors on stderr as
// "bayercam: <what went wrong>" and returns the process exit status (0 ok, 1 failure,
// 2 usage).
#pragma once

namespace bayercam::app {

int runTool(int argc, char** argv);

}  // namespace bayercam::app
