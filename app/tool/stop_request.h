// Ctrl-C (SIGINT) and SIGTERM during a capture, taken as a request to stop: the first one sets
// a flag the capture loop reads, so the run ends cleanly (frames in hand written, the summary
// printed, the settings saved); a second one ends the process as the signal normally would.
#pragma once

#include <csignal>
#include <string>

namespace bayercam::app {

class StopRequest {
  public:
    // Installs the handlers; the destructor puts the previous ones back.
    StopRequest();
    ~StopRequest();
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    // The signal that asked to stop, or 0.
    int signal() const;
};

// "SIGINT", "SIGTERM".
std::string signalName(int signal);

}  // namespace bayercam::app
