// The device callbacks Add, Start and Stop, and the camera preparation run at every start.
// All run at passive level from plug-and-play requests.
#include <new>

#include "driver/control/region_of_interest.h"
#include "driver/control/sensor.h"
#include "driver/control/settings_store.h"
#include "driver/device/camera_device.h"
#include "driver/device/pool_tags.h"
#include "driver/entry/filter.h"
#include "driver/streaming/frame_grabber.h"
#include "driver/usb/command_protocol.h"
#include "driver/usb/usb_requests.h"

namespace {

void ApplyDefaults(CameraDevice* camera, PKSDEVICE device) {
    camera->nativeBayerPhase = 1;
    RtlZeroMemory(&camera->usb, sizeof(camera->usb));
    RtlZeroMemory(&camera->exTrigger, reinterpret_cast<PUCHAR>(&camera->aec + 1) -
                                          reinterpret_cast<PUCHAR>(&camera->exTrigger));
    RtlZeroMemory(camera->registerShadow, sizeof(camera->registerShadow));
    camera->usb.physicalDevice = device->PhysicalDeviceObject;
    camera->usb.lowerDevice = device->NextDeviceObject;
    camera->usb.functionalDevice = device->FunctionalDeviceObject;
    camera->timeout = 3000;
    camera->colorEnable = 1;
    camera->bayerPhase = camera->nativeBayerPhase;
    camera->colorCorrection = 1;
    camera->redGain = 128;
    camera->greenGain = 128;
    camera->blueGain = 128;
    camera->brightness = 255;
    camera->hue = 0;
    camera->contrast = 10;
    camera->saturation = 10;
    camera->clock = 0;
    SetRoi(camera, 0, 0, SENSOR_WIDTH, SENSOR_HEIGHT, 0);
    KeInitializeSpinLock(&camera->usb.transferLock);
    KeInitializeEvent(&camera->usb.transfersDone, NotificationEvent, FALSE);
    KeInitializeEvent(&camera->commandLock, SynchronizationEvent, TRUE);
    KeInitializeEvent(&camera->settingsLock, SynchronizationEvent, TRUE);
    RtlZeroMemory(camera->transferControlPacket, COMMAND_PACKET_SIZE);
    RtlZeroMemory(camera->commandPacket, COMMAND_PACKET_SIZE);
    RtlZeroMemory(camera->frameRequestPacket, COMMAND_PACKET_SIZE);
}

// Every failure leaves frameGrabber null; the start goes on without it.
void AllocateFrameGrabber(CameraDevice* camera, PKSDEVICE device) {
    auto* grabber = static_cast<FrameGrabber*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(FrameGrabber), POOL_TAG_CAMERA));
    if (grabber == nullptr) return;
    RtlZeroMemory(grabber, sizeof(FrameGrabber));
    grabber->device = camera;
    KeInitializeEvent(&grabber->deliveryDone, NotificationEvent, FALSE);
    KeInitializeSpinLock(&grabber->stateLock);
    camera->frameGrabber = grabber;
    if (!NT_SUCCESS(KsAddItemToObjectBag(device->Bag, grabber, ReleasePoolBlock))) {
        camera->frameGrabber = nullptr;
        ExFreePoolWithTag(grabber, POOL_TAG_CAMERA);
    }
}

}  // namespace

NTSTATUS CameraDeviceAdd(PKSDEVICE device) {
    PVOID memory = ExAllocatePoolWithTag(NonPagedPool, sizeof(CameraDevice), POOL_TAG_CAMERA);
    if (memory == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(memory, sizeof(CameraDevice));
    CameraDevice* camera = new (memory) CameraDevice(device);
    KsAcquireDevice(device);
    NTSTATUS status = KsAddItemToObjectBag(device->Bag, camera, ReleaseCameraDevice);
    KsReleaseDevice(device);
    if (!NT_SUCCESS(status)) {
        camera->~CameraDevice();
        ExFreePoolWithTag(camera, POOL_TAG_CAMERA);
        return status;
    }
    device->Context = camera;
    ApplyDefaults(camera, device);
    return STATUS_SUCCESS;
}

NTSTATUS CameraDeviceStart(PKSDEVICE device, PIRP, PCM_RESOURCE_LIST, PCM_RESOURCE_LIST) {
    CameraDevice* camera = CameraDeviceOf(device);
    if (camera == nullptr) return STATUS_INVALID_DEVICE_STATE;
    NTSTATUS factory = CreateCameraFilterFactory(device);
    // A restart keeps the grabber of an earlier start: it holds no run between starts, and the
    // bag frees it only at removal, so a new one each start would pile up.
    if (NT_SUCCESS(factory) && !device->Started && camera->frameGrabber == nullptr) {
        AllocateFrameGrabber(camera, device);
    }
    NTSTATUS status = ConfigureDevice(&camera->usb);
    PrepareCamera(camera);
    // A device that failed to start gets no Stop: what the configuration kept goes now.
    if (!NT_SUCCESS(status)) ReleaseConfiguration(&camera->usb);
    return status;
}

VOID CameraDeviceStop(PKSDEVICE device, PIRP) {
    CameraDevice* camera = CameraDeviceOf(device);
    if (camera == nullptr) return;
    SaveSettings(camera);
    ReleaseConfiguration(&camera->usb);
    DeconfigureDevice(&camera->usb);
}

bool PrepareCamera(CameraDevice* device) {
    UCHAR prepare[COMMAND_PACKET_SIZE] = {};
    prepare[0] = static_cast<UCHAR>(CommandCode::Prepare);
    {
        // The register shadow and the clock that InitSensor writes are settings state.
        SettingsLockGuard settings(device);
        {
            CommandLockGuard guard(device);
            SendCommand(device, COMMAND_PACKET_SIZE, prepare);
        }
        InitSensor(device);
    }
    LoadSettings(device);
    return true;
}
