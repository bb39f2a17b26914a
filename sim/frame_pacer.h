// When the camera may send its next frame. Frame slot n begins at start + n x interval, counted
// from the stream's start so that the rate does not drift while frames are asked for in time;
// slots that pass with no frame asked for are counted as missed, and a late request starts the
// grid again.
#pragma once

#include <cstdint>

#include "host/usb/usb_function.h"

namespace bayercam::sim {

enum class FramePacing {
    FixedRate,         // one frame per slot of the configured rate
    AsFastAsPossible,  // a requested frame is due at once
};

class FramePacer {
  public:
    void configure(FramePacing pacing, double framesPerSecond);
    // The stream starts (again) at this time: slot 0 is due then.
    void restart(host::UsbClock::time_point start);
    // A frame was asked for at `now`: the time it is due.
    host::UsbClock::time_point schedule(host::UsbClock::time_point now);
    std::uint64_t missed() const { return missed_; }

  private:
    FramePacing pacing_ = FramePacing::FixedRate;
    host::UsbClock::duration interval_ = std::chrono::microseconds(33333);
    bool started_ = false;
    host::UsbClock::time_point start_{};
    std::uint64_t nextSlot_ = 0;
    std::uint64_t missed_ = 0;
};

}  // namespace bayercam::sim
