// The video data range of the capture pin and the per-device copy of the descriptors that offer
// it. Each camera device keeps its own range, so each device's pin offers the format of that
// device's own region of interest.
#pragma once

#include "platform/ks.h"

class CameraDevice;

// The range as stored before any region is applied: RGB32, KS_VIDEOINFOHEADER, full sensor.
extern const KS_DATARANGE_VIDEO CaptureDataRange;

// One device's filter descriptor, its one pin descriptor and the range that pin offers. The
// filter factory of the device is created over `filter`; the pointers inside lead to the
// members of this record, which lives as long as the CameraDevice holding it.
struct CaptureDescriptors {
    KSFILTER_DESCRIPTOR filter;
    KSPIN_DESCRIPTOR_EX pin;
    PKSDATARANGE dataRanges[1];
    KS_DATARANGE_VIDEO dataRange;
};

// Fills the device's descriptors from the driver's static ones and the stored range. Called
// once, at construction, before the first region is applied.
VOID InitCaptureDescriptors(CameraDevice* device);

// Rewrites the size-dependent fields of the device's range from its outputWidth and roiH.
// Called by SetRoi, which runs only while no capture pin exists. Passive level.
VOID UpdateCaptureDataRange(CameraDevice* device);
