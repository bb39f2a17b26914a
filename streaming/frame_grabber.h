// The frame grabber record: one per camera device, allocated at device start and owned by the
// KS device's object bag. The capture run that drives it arrives with the capture pin.
#pragma once

#include "streaming/color_pipeline.h"

class CameraDevice;

struct FrameGrabber {
    ColorPipeline pipeline;
    PUCHAR rgbFrame;
    LONG runMode;         // 0 no run, 1 run paused, 2 running
    KEVENT deliveryDone;  // notification: a processing pass ended
    PKTHREAD thread;
    volatile LONG delivering;  // atomic
    LONG rawState0;            // guarded by the grabber's state lock
    LONG rawState1;
    PUCHAR rawBuffer0;
    PUCHAR rawBuffer1;
    UCHAR running;
    volatile LONG framesGrabbed;  // atomic
    CameraDevice* device;
};
