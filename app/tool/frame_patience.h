// How long capture waits for a frame before it gives up, and what it says then. The wait
// follows the camera: the driver's own wait for a frame (Timeout) plus two frame intervals, so
// a slow camera is not taken for a stopped one; the message names the likely cause.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace bayercam::app {

struct FramePatience {
    std::chrono::milliseconds driverTimeout;            // the Timeout setting
    std::optional<std::chrono::microseconds> interval;  // the camera's frame interval, if known
    bool externalTrigger = false;                       // ExTrigger is on

    std::chrono::milliseconds limit() const;
    // Why no frame came within limit(), and what to change.
    std::string noFrameMessage() const;
};

}  // namespace bayercam::app
