// Filter factory creation, filter Create and Close, and the plain pool block release.
#include "driver/entry/filter.h"

#include "driver/control/settings_store.h"
#include "driver/device/camera_device.h"
#include "driver/device/pool_tags.h"

namespace {

WCHAR FilterReferenceString[] = L"GLOBAL";

}  // namespace

NTSTATUS CreateCameraFilterFactory(PKSDEVICE device) {
    if (device->Started) return STATUS_SUCCESS;
    CameraDevice* camera = CameraDeviceOf(device);
    if (camera == nullptr) return STATUS_INVALID_DEVICE_STATE;
    KsAcquireDevice(device);
    // The device's own descriptors: its pin offers the data range of its own region.
    NTSTATUS status = KsCreateFilterFactory(device->FunctionalDeviceObject,
                                            &camera->captureDescriptors.filter,
                                            FilterReferenceString, nullptr,
                                            KSCREATE_ITEM_FREEONSTOP, nullptr, nullptr, nullptr);
    KsReleaseDevice(device);
    return status;
}

NTSTATUS FilterCreate(PKSFILTER filter, PIRP) {
    auto* context = static_cast<FilterContext*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(FilterContext), POOL_TAG_CAMERA));
    if (context == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    context->filter = filter;
    NTSTATUS status = KsAddItemToObjectBag(filter->Bag, context, ReleasePoolBlock);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(context, POOL_TAG_CAMERA);
        return status;
    }
    filter->Context = context;
    return status;
}

NTSTATUS FilterClose(PKSFILTER filter, PIRP) {
    CameraDevice* camera = CameraDeviceOf(KsGetDevice(filter));
    if (camera != nullptr) SaveSettings(camera);
    return STATUS_SUCCESS;
}

VOID ReleasePoolBlock(PVOID object) {
    if (object != nullptr) ExFreePool(object);
}
