// The capture filter: its factory, its Create and Close callbacks and its per-instance context.
#pragma once

#include "platform/ks.h"

// One per filter instance; owned by the filter's object bag. Nothing reads it back.
struct FilterContext {
    PKSFILTER filter;
};

// The first step of the device's Start, inside the device mutex. No factory is created for a
// device already flagged as started.
NTSTATUS CreateCameraFilterFactory(PKSDEVICE device);

NTSTATUS FilterCreate(PKSFILTER filter, PIRP irp);
// Stores the settings; always succeeds.
NTSTATUS FilterClose(PKSFILTER filter, PIRP irp);

// Object bag release callback of plain pool blocks: the FilterContext and the FrameGrabber.
VOID ReleasePoolBlock(PVOID object);

extern const KSDEVICE_DESCRIPTOR CameraDeviceDescriptor;
extern const KSFILTER_DESCRIPTOR CameraFilterDescriptor;
