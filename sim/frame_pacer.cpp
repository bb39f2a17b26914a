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

// Slot k runs from start + k x interval to the next slot. A request inside a slot already used
// waits for the next slot. A request that comes late, in a slot not yet used, is served at once,
// and the grid starts again from it: the camera never sends two frames closer than one interval,
// which a frame served in the middle of a slot followed by one at the next slot's start would be.
host::UsbClock::time_point FramePacer::schedule(host::UsbClock::time_point now) {
    if (pacing_ == FramePacing::AsFastAsPossible) return now;
    if (!started_) restart(now);
    std::uint64_t current =
        now > start_ ? static_cast<std::uint64_t>((now - start_) / interval_) : 0;
    if (current < nextSlot_) {
        auto due = start_ + interval_ * static_cast<std::int64_t>(nextSlot_);
        ++nextSlot_;
        return due;
    }
    missed_ += current - nextSlot_;
    start_ = now;
    nextSlot_ = 1;
    return now;
}

}  // namespace bayercam::sim
