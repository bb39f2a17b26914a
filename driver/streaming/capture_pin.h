// The capture pin: its per-pin record, its dispatch callbacks and its descriptor. All dispatch
// callbacks but ProcessPin run at passive level, one at a time per pin; ProcessPin runs on the
// class driver's processing thread.
#pragma once

#include "driver/device/camera_device.h"

// One per pin instance; owned by the pin's object bag. It is also the device's FrameNotifier
// while the pin holds the capture.
class PinContext final : public FrameNotifier {
  public:
    PinContext(PKSPIN ksPin, CameraDevice* camera);
    ~PinContext() = default;

    // Asks the class driver to run the pin's processing and returns without waiting. Called by
    // the device's FrameReady on the grabber thread.
    void RequestProcessing() override;

    PKSPIN pin;
    CameraDevice* device;
    LONG streamState;  // 0 no run, 1 paused after running, 2 running; the control path only
    PIKSREFERENCECLOCK referenceClock;  // from ACQUIRE to STOP; read by ProcessPin
    KS_VIDEOINFOHEADER videoInfo;       // changes only at creation and in the stop state
    UCHAR captureAcquired;              // 1 while the capture holds the camera device
    LONG rowBytes;  // bytes per client frame row, of the connection format; 0 after close
};

// Largest bitmap header a connection format may carry: the one videoInfo holds.
constexpr ULONG CAPTURE_BITMAP_HEADER_SIZE = sizeof(KS_BITMAPINFOHEADER);

NTSTATUS CreatePin(PKSPIN pin, PIRP irp);
NTSTATUS ClosePin(PKSPIN pin, PIRP irp);
NTSTATUS IntersectFormat(PVOID context, PIRP irp, PKSP_PIN pinInstance, PKSDATARANGE callerRange,
                         PKSDATARANGE descriptorRange, ULONG dataBufferSize, PVOID data,
                         PULONG dataSize);
NTSTATUS SetPinFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, PKSMULTIPLE_ITEM oldAttributeList,
                      const KSDATARANGE* dataRange, const KSATTRIBUTE_LIST* attributeRange);
NTSTATUS SetPinState(PKSPIN pin, KSSTATE toState, KSSTATE fromState);
// Always STATUS_PENDING: each pass delivers at most one frame and waits for the next notice.
NTSTATUS ProcessPin(PKSPIN pin);

// Object bag release callback of the PinContext.
VOID ReleasePinContext(PVOID object);

// The pin's context, or null while it has none.
inline PinContext* PinContextOf(PKSPIN pin) { return static_cast<PinContext*>(pin->Context); }

extern const KSPIN_DESCRIPTOR_EX CapturePinDescriptor;
extern const KSALLOCATOR_FRAMING_EX CaptureFraming;
