#include "app/tool/stop_request.h"

namespace bayercam::app {

namespace {

volatile std::sig_atomic_t requested = 0;
struct sigaction previousInterrupt;
struct sigaction previousTerminate;

void onStopSignal(int signal) {
    if (requested != 0) {
        // Asked twice: stop now, the way the signal stops a process.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    requested = signal;
}

}  // namespace

StopRequest::StopRequest() {
    requested = 0;
    struct sigaction action{};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls: a frame write in progress is not cut short by the signal.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInterrupt);
    sigaction(SIGTERM, &action, &previousTerminate);
}

StopRequest::~StopRequest() {
    sigaction(SIGINT, &previousInterrupt, nullptr);
    sigaction(SIGTERM, &previousTerminate, nullptr);
}

int StopRequest::signal() const { return requested; }

std::string signalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        default:
            return "signal " + std::to_string(signal);
    }
}

}  // namespace bayercam::app
