// The camera device: one per attached camera, with every setting, the USB target and transfer
// state, the packet buffers, the sensor register shadow, the raw frame geometry and the links to
// the streaming side, which drives the camera only through CameraOps.
#pragma once

#include "driver/public/bayercam.h"
#include "driver/streaming/capture_data_range.h"
#include "platform/ks.h"
#include "platform/usb.h"

struct FrameGrabber;
struct ColorPipeline;

constexpr ULONG COMMAND_PACKET_SIZE = 64;

// The pin-side receiver of frame-ready notices; the capture pin implements it.
class FrameNotifier {
  public:
    // Slot 0: a frame is ready; asks the class driver to run the pin's processing, no wait.
    virtual void RequestProcessing() = 0;

  protected:
    ~FrameNotifier() = default;
};

// The camera operations the streaming side calls, in slot order.
class CameraOps {
  public:
    virtual void FrameReady() = 0;                        // slot 0
    virtual bool StartSensor() = 0;                       // slot 1
    virtual bool ReadFrame(PUCHAR buffer, bool* ok) = 0;  // slot 2
    virtual void GetFrameSize(ULONG* size) = 0;           // slot 3
    virtual void GetFrameOffset(ULONG* offset) = 0;       // slot 4
    virtual void GetFrameStride(ULONG* stride) = 0;       // slot 5
    virtual void AbortPipes() = 0;                        // slot 6
    virtual void CancelTransfers() = 0;                   // slot 7
    virtual LONG GetRoiX() = 0;                           // slot 8
    virtual LONG GetRoiY() = 0;                           // slot 9

  protected:
    ~CameraOps() = default;
};

struct UsbTarget;

// Bookkeeping of one chunk transfer of a frame read.
struct TransferSlot {
    UsbTarget* owner;
    PURB urb;
    PIRP irp;
    PMDL partialMdl;
    volatile LONG completed;  // atomic: 0 until the completion routine ran for this chunk
};

struct UsbTarget {
    PDEVICE_OBJECT physicalDevice;
    PDEVICE_OBJECT lowerDevice;  // every USB request goes here
    PDEVICE_OBJECT functionalDevice;
    PUSB_CONFIGURATION_DESCRIPTOR configDescriptor;  // Start to Stop
    PUSBD_INTERFACE_INFORMATION interfaceInfo;       // Start to Stop: the pipe table
    PUCHAR pipeInUse;                                // one mark per pipe; guarded by transferLock
    KEVENT transfersDone;              // notification: every chunk of the running read completed
    TransferSlot* transferSlots;       // guarded by transferLock
    volatile LONG completedTransfers;  // atomic
    volatile LONG plannedTransfers;    // atomic
    KSPIN_LOCK transferLock;           // posting and cancelling of chunk transfers
    PMDL frameMdl;                     // guarded by transferLock
};

class CameraDevice final : public CameraOps {
  public:
    explicit CameraDevice(PKSDEVICE device);
    ~CameraDevice() = default;

    void FrameReady() override;
    bool StartSensor() override;
    bool ReadFrame(PUCHAR buffer, bool* ok) override;
    void GetFrameSize(ULONG* size) override;
    void GetFrameOffset(ULONG* offset) override;
    void GetFrameStride(ULONG* stride) override;
    void AbortPipes() override;
    void CancelTransfers() override;
    LONG GetRoiX() override;
    LONG GetRoiY() override;

    // Setting fields are naturally aligned 32-bit values written whole, without a lock.
    PKSDEVICE ksDevice;
    UsbTarget usb;
    ULONG exTrigger;
    ULONG timeout;
    ULONG exposure;
    ULONG globalGain;
    volatile LONG flipH;  // atomic
    volatile LONG flipV;  // atomic
    ULONG colorEnable;
    ULONG whiteBalance;
    ULONG redGain;
    ULONG greenGain;
    ULONG blueGain;
    ULONG colorCorrection;
    ULONG brightness;
    ULONG contrast;
    ULONG saturation;
    ULONG hue;
    LONG subSample;
    LONG fullFrameX;
    LONG fullFrameY;
    LONG fullFrameWidth;
    LONG fullFrameHeight;
    ULONG bayerPhase;
    ULONG clock;
    ULONG agc;
    ULONG aec;
    UCHAR commandPacket[COMMAND_PACKET_SIZE];  // guarded by commandLock
    UCHAR frameRequestPacket[COMMAND_PACKET_SIZE];
    UCHAR transferControlPacket[COMMAND_PACKET_SIZE];
    volatile LONG captureBusy;  // atomic
    FrameGrabber* frameGrabber;
    ColorPipeline* colorPipeline;
    FrameNotifier* frameNotifier;
    PKS_VIDEOINFOHEADER videoFormat;
    LONG roiH;
    LONG roiW;
    LONG roiX;
    LONG roiY;
    ULONG rawOffset;
    ULONG rawStride;
    ULONG rawFrameSize;
    LONG outputWidth;
    LONG outputHeight;
    ULONG nativeBayerPhase;
    volatile LONG roiLocked;  // atomic: the number of capture pins that exist
    ULONG memoryReadAddress;
    ULONG registerShadow[SENSOR_REGISTER_COUNT];
    ULONG frameCount;  // written by the grabber thread only
    LONG sensorInitCount;
    // Synchronization event used as a mutex: one command exchange at a time (build the packet,
    // send it, read its replies), so exchanges from client threads never interleave.
    KEVENT commandLock;
    // Synchronization event used as a mutex, taken before commandLock: one settings change at a
    // time, so the device record, the camera and the colorPipeline pointer (and the pipeline's
    // settings) stay consistent; also orders region changes against a pin's lock on the region.
    KEVENT settingsLock;
    // The filter and pin descriptors this device's factory offers, with the data range of this
    // device's region of interest; rewritten by SetRoi.
    CaptureDescriptors captureDescriptors;
};

// Device callbacks; passive level.
NTSTATUS CameraDeviceAdd(PKSDEVICE device);
NTSTATUS CameraDeviceStart(PKSDEVICE device, PIRP irp, PCM_RESOURCE_LIST translated,
                           PCM_RESOURCE_LIST untranslated);
VOID CameraDeviceStop(PKSDEVICE device, PIRP irp);

// Sends Prepare, programs the sensor and loads the settings; always true.
bool PrepareCamera(CameraDevice* device);
// Counts the capture pins that exist: a nonzero value records one more pin (pin creation), 0
// one pin fewer (pin close or a failed creation); the count never goes below 0. The region
// can change only while it is 0. Passive level: a region change in progress completes first.
void SetRoiLocked(CameraDevice* device, LONG value);

// Object bag release callback of the CameraDevice.
VOID ReleaseCameraDevice(PVOID object);

// The camera device of a KS device, or null.
inline CameraDevice* CameraDeviceOf(PKSDEVICE device) {
    return device == nullptr ? nullptr : static_cast<CameraDevice*>(device->Context);
}

// Takes and releases the device's command exchange lock (passive level).
void AcquireCommandLock(CameraDevice* device);
void ReleaseCommandLock(CameraDevice* device);

// Takes and releases the device's settings lock (passive level).
void AcquireSettingsLock(CameraDevice* device);
void ReleaseSettingsLock(CameraDevice* device);

class SettingsLockGuard {
  public:
    explicit SettingsLockGuard(CameraDevice* device) : device_(device) {
        AcquireSettingsLock(device_);
    }
    ~SettingsLockGuard() { ReleaseSettingsLock(device_); }
    SettingsLockGuard(const SettingsLockGuard&) = delete;
    SettingsLockGuard& operator=(const SettingsLockGuard&) = delete;

  private:
    CameraDevice* device_;
};

class CommandLockGuard {
  public:
    explicit CommandLockGuard(CameraDevice* device) : device_(device) {
        AcquireCommandLock(device_);
    }
    ~CommandLockGuard() { ReleaseCommandLock(device_); }
    CommandLockGuard(const CommandLockGuard&) = delete;
    CommandLockGuard& operator=(const CommandLockGuard&) = delete;

  private:
    CameraDevice* device_;
};
