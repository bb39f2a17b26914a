// What a capture run counts: frames written, frames lost, the pace; and the lines and JSON that
// report it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace bayercam::app {

class CaptureStatistics {
  public:
    // A frame taken, with its picture number and presentation time (100-ns units). Picture
    // numbers count the frames the driver read in this run, from 1: those it read and never
    // handed over, before the first frame taken or between two, are lost.
    void frameTaken(std::int64_t pictureNumber, std::int64_t presentationTime);

    std::uint64_t frames() const { return frames_; }
    std::uint64_t lost() const { return lost_; }
    // Between the last two frames, in milliseconds; nothing before the second frame.
    std::optional<double> lastInterval() const { return lastInterval_; }
    // Frames per second from the presentation times of the frames taken so far.
    double framesPerSecond() const;

  private:
    std::uint64_t frames_ = 0;
    std::uint64_t lost_ = 0;
    std::int64_t lastPicture_ = 0;
    std::int64_t firstTime_ = 0;
    std::int64_t lastTime_ = 0;
    std::optional<double> lastInterval_;
};

struct CaptureSummary {
    const CaptureStatistics& statistics;
    std::string output;  // the folder, file or stream
    std::string format;  // png or bgra
    std::int32_t width;
    std::int32_t height;
    int stopSignal;  // the signal that ended the run, or 0
};

std::string describeCapture(const CaptureSummary& summary);
std::string captureJson(const CaptureSummary& summary);

}  // namespace bayercam::app
