// The capture run behind the pin's states: taking the camera device, the run's buffers, the
// grabber thread and the hand-over of filled raw buffers to the processing pass.
#pragma once

#include "driver/streaming/capture_pin.h"
#include "driver/streaming/frame_grabber.h"

// Passive level, from the pin's state changes.
NTSTATUS AcquireCapture(CameraDevice* device, PinContext* context, PKS_VIDEOINFOHEADER videoInfo);
VOID ReleaseCapture(CameraDevice* device);
NTSTATUS StartCapture(CameraDevice* device);
VOID EndCaptureRun(PinContext* context);
VOID StartGrabber(FrameGrabber* grabber);
VOID StopGrabber(FrameGrabber* grabber);

// The grabber thread's routine and its frame read.
VOID GrabberThread(PVOID context);
bool GrabIntoBuffer(FrameGrabber* grabber, PUCHAR buffer);

// Processing thread, once per pass: converts one filled raw buffer into rgbFrame. Leaves
// `delivering` at 1 whatever it returns; the pass clears it.
bool ConvertFilledBuffer(FrameGrabber* grabber);
