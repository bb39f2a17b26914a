#include "sim/frame_pacer.h"

namespace bayercam::sim {

void FramePacer::configure(FramePacing pacing, double framesPerSecond) {
    pacing_ = pacing;
    if (framesPerSecond > 0) {
        interval_ = std::chrono::duration_cast<host::UsbClock::duration>(
            std::chrono::duration<double>(1.0 / framesPerSecond));
    }
}

void FramePacer::restart(host::UsbClock::time_point start) {
    started_ = true;
    start_ = start;
    nextSlot_ = 0;
}

host::UsbClock::time_point FramePacer::schedule(host::UsbClock::time_point now) {
    if (pacing_ == FramePacing::AsFastAsPossible) return now;
    if (!started_) restart(now);
    std::uint64_t slot = nextSlot_;
    if (now > start_) {
        auto elapsed = now - start_;
        auto ceiling = static_cast<std::uint64_t>(
            (elapsed + interval_ - host::UsbClock::duration(1)) / interval_);
        if (ceiling > slot) {
            missed_ += ceiling - slot;
            slot = ceiling;
        }
    }
    nextSlot_ = slot + 1;
    return start_ + interval_ * static_cast<std::int64_t>(slot);
}

}  // namespace bayercam::sim
