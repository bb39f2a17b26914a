#include "app/tool/frame_patience.h"

namespace bayercam::app {

namespace {

using std::chrono::milliseconds;

// Time for the processes and threads between the camera and the tool.
constexpr milliseconds kMargin{1000};
constexpr milliseconds kLongestTimeout{9999};

}  // namespace

milliseconds FramePatience::limit() const {
    const milliseconds frames =
        interval ? std::chrono::ceil<milliseconds>(2 * *interval) : milliseconds(0);
    return driverTimeout + frames + kMargin;
}

std::string FramePatience::noFrameMessage() const {
    const std::string waited =
        "no frame came in " + std::to_string(limit().count()) + " ms: ";
    if (externalTrigger) {
        return waited + "the camera waits for an external trigger (ExTrigger is 1) and none came; "
                        "trigger it, or turn the trigger off with 'bayercam set ExTrigger=0'";
    }
    if (interval && *interval > driverTimeout) {
        const milliseconds frame = std::chrono::ceil<milliseconds>(*interval);
        const milliseconds enough = frame + milliseconds(500);
        return waited + "the driver's Timeout (" + std::to_string(driverTimeout.count()) +
               " ms) is shorter than the camera's frame interval (" +
               std::to_string(frame.count()) + " ms), so it gives up on every frame; " +
               (enough <= kLongestTimeout
                    ? "set 'bayercam set Timeout=" + std::to_string(enough.count()) + "'"
                    : std::string("the camera is slower than the longest Timeout (9999 ms): "
                                  "raise its frame rate"));
    }
    return waited + "the camera stopped sending frames";
}

}  // namespace bayercam::app
