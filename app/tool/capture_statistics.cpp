#include "app/tool/capture_statistics.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/tool/stop_request.h"

namespace bayercam::app {

void CaptureStatistics::frameTaken(std::int64_t pictureNumber, std::int64_t presentationTime) {
    if (pictureNumber > lastPicture_) {
        lost_ += std::uint64_t(pictureNumber - lastPicture_ - 1);
        lastPicture_ = pictureNumber;
    }
    if (frames_ == 0) {
        firstTime_ = presentationTime;
    } else {
        lastInterval_ = double(presentationTime - lastTime_) / 1e4;
    }
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
                  "lost %llu: frames the driver read that never reached the tool",
                  static_cast<unsigned long long>(s.frames()), summary.width, summary.height,
                  s.framesPerSecond(), summary.output.c_str(), summary.format.c_str(),
                  static_cast<unsigned long long>(s.lost()));
    std::string result = text;
    if (summary.stopSignal != 0) result += "\nstopped by " + signalName(summary.stopSignal);
    return result;
}

std::string captureJson(const CaptureSummary& summary) {
    const CaptureStatistics& s = summary.statistics;
    nlohmann::ordered_json json = {
        {"frames", s.frames()},       {"width", summary.width},   {"height", summary.height},
        {"fps", s.framesPerSecond()}, {"output", summary.output}, {"format", summary.format},
        {"lost", s.lost()},
    };
    if (summary.stopSignal != 0) json["stoppedBy"] = signalName(summary.stopSignal);
    return json.dump(2);
}

}  // namespace bayercam::app
