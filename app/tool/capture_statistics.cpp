#include "app/tool/capture_statistics.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace bayercam::app {

void CaptureStatistics::frameTaken(std::int64_t pictureNumber, std::int64_t presentationTime) {
    if (lastPicture_ && pictureNumber > *lastPicture_ + 1) {
        overwritten_ += std::uint64_t(pictureNumber - *lastPicture_ - 1);
    }
    if (frames_ == 0) {
        firstTime_ = presentationTime;
    } else {
        lastInterval_ = double(presentationTime - lastTime_) / 1e4;
    }
    lastPicture_ = pictureNumber;
    lastTime_ = presentationTime;
    ++frames_;
}

double CaptureStatistics::framesPerSecond() const {
    if (frames_ < 2 || lastTime_ <= firstTime_) return 0.0;
    return double(frames_ - 1) * 1e7 / double(lastTime_ - firstTime_);
}

std::string describeCapture(const CaptureSummary& summary) {
    const CaptureStatistics& s = summary.statistics;
    char text[512];
    std::snprintf(text, sizeof(text),
                  "captured %llu frame(s) of %dx%d at %.1f fps into %s (%s)\n"
                  "lost %llu: %llu read(s) failed, %llu timed out, %llu overwritten before a "
                  "buffer took them",
                  static_cast<unsigned long long>(s.frames()), summary.width, summary.height,
                  s.framesPerSecond(), summary.folder.c_str(), summary.format.c_str(),
                  static_cast<unsigned long long>(s.lost()),
                  static_cast<unsigned long long>(s.failed()),
                  static_cast<unsigned long long>(s.timedOut()),
                  static_cast<unsigned long long>(s.overwritten()));
    return text;
}

std::string captureJson(const CaptureSummary& summary) {
    const CaptureStatistics& s = summary.statistics;
    const nlohmann::json json = {
        {"frames", s.frames()},
        {"width", summary.width},
        {"height", summary.height},
        {"fps", s.framesPerSecond()},
        {"folder", summary.folder},
        {"format", summary.format},
        {"lost",
         {{"total", s.lost()},
          {"failed", s.failed()},
          {"timed_out", s.timedOut()},
          {"overwritten", s.overwritten()}}},
    };
    return json.dump(2);
}

}  // namespace bayercam::app
