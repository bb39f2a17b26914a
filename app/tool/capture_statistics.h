// What a capture run counts: frames written, frames lost by cause, the pace; and the lines and
// JSON that report it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace bayercam::app {

class CaptureStatistics {
  public:
    // A frame taken, with its picture number and presentation time (100-ns units). A gap in
    // picture numbers counts the frames the driver read but overwrote before a buffer took them.
    void frameTaken(std::int64_t pictureNumber, std::int64_t presentationTime);
    void readTimedOut() { ++timedOut_; }
    void readFailed() { ++failed_; }

    std::uint64_t frames() const { return frames_; }
    std::uint64_t lost() const { return timedOut_ + failed_ + overwritten_; }
    std::uint64_t timedOut() const { return timedOut_; }
    std::uint64_t failed() const { return failed_; }
    std::uint64_t overwritten() const { return overwritten_; }
    // Between the last two frames, in milliseconds; nothing before the second frame.
    std::optional<double> lastInterval() const { return lastInterval_; }
    // Frames per second over the frames taken so far, by their presentation times.
    double framesPerSecond() const;

  private:
    std::uint64_t frames_ = 0;
    std::uint64_t timedOut_ = 0;
    std::uint64_t failed_ = 0;
    std::uint64_t overwritten_ = 0;
    std::optional<std::int64_t> lastPicture_;
    std::int64_t firstTime_ = 0;
    std::int64_t lastTime_ = 0;
    std::optional<double> lastInterval_;
};

struct CaptureSummary {
    const CaptureStatistics& statistics;
    std::string folder;
    std::string format;  // png or bgra
    std::int32_t width;
    std::int32_t height;
};

std::string describeCapture(const CaptureSummary& summary);
std::string captureJson(const CaptureSummary& summary);

}  // namespace bayercam::app
