// Where a run of frames lies in the pipeline's time: the driver's presentation time (100 ns
// units of the stream's clock) moved onto the running time, and the discontinuities, which are
// the gaps in the picture numbers (frames the driver read and lost) and every run's start.
#pragma once

#include <gst/gst.h>

#include <cstdint>

namespace bayercam::app {

class FrameTimeline {
  public:
    struct Placement {
        GstClockTime pts;
        bool discont;
    };

    // A new run of the camera: its stream clock and picture numbers start again.
    void restart() { anchored_ = false; }
    // runningNow is the pipeline's running time as the frame is taken (GST_CLOCK_TIME_NONE
    // without a clock); the run's first frame ties the stream clock to it.
    Placement place(std::int64_t presentationTime, std::int64_t pictureNumber,
                    GstClockTime runningNow);

  private:
    bool anchored_ = false;
    GstClockTimeDiff offset_ = 0;  // running time minus stream time, nanoseconds
    std::int64_t lastPicture_ = 0;
};

}  // namespace bayercam::app
