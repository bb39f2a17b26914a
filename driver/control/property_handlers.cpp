// The item handlers of the camera property set other than the general one: constants,
// adjustments, the region, the register write and the raw packets.
#include "driver/control/camera_exchanges.h"
#include "driver/control/image_settings.h"
#include "driver/control/property_support.h"
#include "driver/control/region_of_interest.h"
#include "driver/control/sensor.h"

namespace {

struct PropertyConstant {
    ULONG id;
    LONG value;
};

// Limits and defaults, and the fixed answers of the properties that carry no setting.
constexpr PropertyConstant CONSTANTS[] = {
    {3, 3},    {4, 1070}, {5, 3},    {7, 0},    {8, 1023}, {9, 512}, {17, 1},    {18, 512},
    {19, 128}, {21, 0},   {22, 510}, {23, 255}, {25, 0},   {26, 20}, {27, 10},   {29, 0},
    {30, 20},  {31, 10},  {33, 0},   {34, 359}, {35, 0},   {36, 0},  {38, 1360}, {39, 1024},
    {46, 1},   {50, 0},   {51, 1},   {52, 1},   {53, 0},   {54, 0},  {61, 0},    {62, 0},
    {63, 0},   {64, 0},   {65, 0},   {66, 0},   {68, 0},
};

bool AdjustmentOf(ULONG id, ImageSetting* setting) {
    switch (static_cast<CameraProperty>(id)) {
        case CameraProperty::Brightness:
            *setting = BRIGHTNESS_SETTING;
            return true;
        case CameraProperty::Contrast:
            *setting = CONTRAST_SETTING;
            return true;
        case CameraProperty::Saturation:
            *setting = SATURATION_SETTING;
            return true;
        case CameraProperty::Hue:
            *setting = HUE_SETTING;
            return true;
        default:
            return false;
    }
}

}  // namespace

CameraDevice* FindPropertyDevice(PIRP irp) {
    if (irp == nullptr) return nullptr;
    PKSFILTER filter = KsGetFilterFromIrp(irp);
    if (filter == nullptr) return nullptr;
    return CameraDeviceOf(KsGetDevice(filter));
}

bool FindPropertyConstant(ULONG id, LONG* value) {
    for (const PropertyConstant& constant : CONSTANTS) {
        if (constant.id != id) continue;
        *value = constant.value;
        return true;
    }
    return false;
}

NTSTATUS HandleConstantProperty(PIRP, PKSIDENTIFIER request, PVOID data) {
    if (request == nullptr || data == nullptr) return STATUS_UNSUCCESSFUL;
    LONG value;
    if (!FindPropertyConstant(request->Id, &value)) return STATUS_UNSUCCESSFUL;
    static_cast<CameraPropertyValue*>(data)->value = value;
    return STATUS_SUCCESS;
}

NTSTATUS HandleAdjustmentProperty(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    CameraDevice* device = FindPropertyDevice(irp);
    ImageSetting setting;
    if (device == nullptr || request == nullptr || data == nullptr ||
        !AdjustmentOf(request->Id, &setting)) {
        return STATUS_UNSUCCESSFUL;
    }
    auto* value = static_cast<CameraPropertyValue*>(data);
    SettingsLockGuard guard(device);
    if (IsSetRequest(request)) {
        SetImageSetting(device, setting, value->value);
    } else {
        value->value = GetImageSetting(device, setting);
    }
    return STATUS_SUCCESS;
}

// Set only: the class driver refuses a get before it gets here.
NTSTATUS HandleRoiProperty(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    CameraDevice* device = FindPropertyDevice(irp);
    if (device == nullptr || request == nullptr || data == nullptr) return STATUS_UNSUCCESSFUL;
    if (!IsSetRequest(request)) return STATUS_SUCCESS;
    const auto* region = static_cast<const CameraRoiValue*>(data);
    SettingsLockGuard guard(device);
    SetRoi(device, region->x, region->y, region->width, region->height, region->subSampling);
    return STATUS_SUCCESS;
}

NTSTATUS HandleRegisterProperty(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    CameraDevice* device = FindPropertyDevice(irp);
    if (device == nullptr || request == nullptr || data == nullptr) return STATUS_UNSUCCESSFUL;
    if (!IsSetRequest(request)) return STATUS_UNSUCCESSFUL;
    const auto* value = static_cast<const CameraPropertyValue*>(data);
    SettingsLockGuard guard(device);
    bool written =
        WriteSensorRegister(device, static_cast<ULONG>(value->value), value->secondValue);
    return written ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS HandlePacketProperty(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    CameraDevice* device = FindPropertyDevice(irp);
    if (device == nullptr || request == nullptr || data == nullptr) return STATUS_UNSUCCESSFUL;
    auto* packet = static_cast<CameraPacketValue*>(data);
    bool set = IsSetRequest(request);
    if (request->Id == static_cast<ULONG>(CameraProperty::RawPacket)) {
        if (!set) return STATUS_UNSUCCESSFUL;
        SendRawPacket(device, packet->count, packet->payload);
        return STATUS_SUCCESS;
    }
    if (request->Id != static_cast<ULONG>(CameraProperty::CameraByte)) return STATUS_UNSUCCESSFUL;
    SettingsLockGuard guard(device);
    if (set) {
        device->memoryReadAddress = static_cast<ULONG>(packet->address);
    } else {
        ReadCameraByte(device, &packet->payload[0]);
    }
    return STATUS_SUCCESS;
}
