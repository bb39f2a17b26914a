#include "app/gst/frame_timeline.h"

namespace bayercam::app {

FrameTimeline::Placement FrameTimeline::place(std::int64_t presentationTime,
                                              std::int64_t pictureNumber, GstClockTime runningNow) {
    const GstClockTimeDiff streamTime = presentationTime * 100;
    const bool discont = !anchored_ || pictureNumber != lastPicture_ + 1;
    if (!anchored_) {
        offset_ =
            (GST_CLOCK_TIME_IS_VALID(runningNow) ? GstClockTimeDiff(runningNow) : 0) - streamTime;
        anchored_ = true;
    }
    lastPicture_ = pictureNumber;
    const GstClockTimeDiff pts = streamTime + offset_;
    return Placement{pts > 0 ? GstClockTime(pts) : 0, discont};
}

}  // namespace bayercam::app
