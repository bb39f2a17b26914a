// The frame grabber record: one per camera device, allocated at device start and owned by the
// KS device's object bag. It holds the capture run's thread and its two raw buffers.
#pragma once

#include "driver/streaming/color_pipeline.h"

class CameraDevice;

// States of a raw buffer.
enum RawBufferState : LONG {
    RAW_FREE = 0,
    RAW_FILLING = 1,
    RAW_FILLED = 2,
    RAW_CONVERTING = 3,
};

struct FrameGrabber {
    ColorPipeline* pipeline;   // the device's pipeline of the current run
    PUCHAR rgbFrame;           // roiW x roiH pixels; the pipeline's outputFrame
    LONG runMode;              // 0 no run, 1 run paused, 2 running; written by the control path
    KEVENT deliveryDone;       // notification: a processing pass ended
    PKTHREAD thread;           // referenced GrabberThread, or null
    volatile LONG delivering;  // atomic: 1 from a conversion's start to the end of its pass
    LONG rawState0;            // RawBufferState; guarded by stateLock
    LONG rawState1;            // guarded by stateLock
    PUCHAR rawBuffer0;
    PUCHAR rawBuffer1;
    volatile LONG running;        // atomic: the thread's keep-running flag
    volatile LONG framesGrabbed;  // atomic
    CameraDevice* device;
    // Guards rawState0 and rawState1: held for a select-and-mark or a release, never across a
    // call out.
    KSPIN_LOCK stateLock;
};
