// CameraDevice construction, the CameraOps slots that only read or count, the command exchange
// lock and the object bag release callback.
#include "driver/device/camera_device.h"

#include <new>

#include "driver/control/region_of_interest.h"
#include "driver/control/sensor.h"
#include "driver/device/pool_tags.h"
#include "driver/usb/frame_transfer.h"
#include "driver/usb/usb_requests.h"

CameraDevice::CameraDevice(PKSDEVICE device) {
    // Every field starts at zero whatever the memory held: the object's lifetime begins here.
    RtlZeroMemory(&ksDevice,
                  reinterpret_cast<PUCHAR>(this + 1) - reinterpret_cast<PUCHAR>(&ksDevice));
    ksDevice = device;
    frameGrabber = nullptr;
    colorPipeline = nullptr;
    roiH = 0;
    roiW = 0;
    roiX = 0;
    roiY = 0;
    roiLocked = 0;
    memoryReadAddress = 0;
    sensorInitCount = 0;
    InitCaptureDescriptors(this);
    SetRoi(this, 0, 0, SENSOR_WIDTH, SENSOR_HEIGHT, 0);
}

// Runs on the grabber thread only; frameNotifier is attached before the grabber starts.
void CameraDevice::FrameReady() {
    // Atomic: the processing pass reads it as the picture number.
    InterlockedIncrement(reinterpret_cast<volatile LONG*>(&frameCount));
    frameNotifier->RequestProcessing();
}

bool CameraDevice::StartSensor() { return ::StartSensor(this); }

bool CameraDevice::ReadFrame(PUCHAR buffer, bool* ok) { return ::ReadFrame(this, buffer, ok); }

void CameraDevice::GetFrameSize(ULONG* size) { *size = rawFrameSize; }

void CameraDevice::GetFrameOffset(ULONG* offset) { *offset = rawOffset; }

void CameraDevice::GetFrameStride(ULONG* stride) { *stride = rawStride; }

void CameraDevice::AbortPipes() { ::AbortPipes(this); }

void CameraDevice::CancelTransfers() { ::CancelTransfers(this); }

LONG CameraDevice::GetRoiX() { return roiX; }

LONG CameraDevice::GetRoiY() { return roiY; }

// With two filters open on one device, each with a pin, closing one pin must leave the region
// locked under the other: a count, not a flag.
void SetRoiLocked(CameraDevice* device, LONG value) {
    if (value != 0) {
        SettingsLockGuard guard(device);
        InterlockedIncrement(&device->roiLocked);
        return;
    }
    LONG count = InterlockedCompareExchange(&device->roiLocked, 0, 0);
    while (count > 0) {
        LONG seen = InterlockedCompareExchange(&device->roiLocked, count - 1, count);
        if (seen == count) return;
        count = seen;
    }
}

void AcquireSettingsLock(CameraDevice* device) {
    KeWaitForSingleObject(&device->settingsLock, Executive, KernelMode, FALSE, nullptr);
}

void ReleaseSettingsLock(CameraDevice* device) {
    KeSetEvent(&device->settingsLock, IO_NO_INCREMENT, FALSE);
}

void AcquireCommandLock(CameraDevice* device) {
    KeWaitForSingleObject(&device->commandLock, Executive, KernelMode, FALSE, nullptr);
}

void ReleaseCommandLock(CameraDevice* device) {
    KeSetEvent(&device->commandLock, IO_NO_INCREMENT, FALSE);
}

VOID ReleaseCameraDevice(PVOID object) {
    if (object == nullptr) return;
    CameraDevice* device = static_cast<CameraDevice*>(object);
    device->~CameraDevice();
    ExFreePoolWithTag(device, POOL_TAG_CAMERA);
}
