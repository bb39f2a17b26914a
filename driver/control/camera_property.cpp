// HandleCameraProperty: every property of the set that has no handler of its own.
#include "driver/control/image_settings.h"
#include "driver/control/property_support.h"
#include "driver/control/region_of_interest.h"
#include "driver/control/sensor.h"

namespace {

bool ImageSettingOf(CameraProperty id, ImageSetting* setting) {
    switch (id) {
        case CameraProperty::ColorEnable:
            *setting = COLOR_ENABLE_SETTING;
            return true;
        case CameraProperty::WhiteBalance:
            *setting = WHITE_BALANCE_SETTING;
            return true;
        case CameraProperty::RedGain:
            *setting = RED_GAIN_SETTING;
            return true;
        case CameraProperty::GreenGain:
            *setting = GREEN_GAIN_SETTING;
            return true;
        case CameraProperty::BlueGain:
            *setting = BLUE_GAIN_SETTING;
            return true;
        case CameraProperty::ColorCorrection:
            *setting = COLOR_CORRECTION_SETTING;
            return true;
        default:
            return false;
    }
}

LONG ReadRegisterShadow(CameraDevice* device) {
    ULONG reg = device->memoryReadAddress;
    return reg < SENSOR_REGISTER_COUNT ? static_cast<LONG>(device->registerShadow[reg]) : 0;
}

// Caller holds the settings lock.
LONG GetProperty(CameraDevice* device, CameraProperty id) {
    ImageSetting setting;
    if (ImageSettingOf(id, &setting)) return GetImageSetting(device, setting);
    switch (id) {
        case CameraProperty::ExTrigger:
            return (device->exTrigger & 0xFF) != 0 ? 1 : 0;
        case CameraProperty::Timeout:
            return static_cast<LONG>(device->timeout);
        case CameraProperty::Exposure:
            return static_cast<LONG>(device->exposure);
        case CameraProperty::GlobalGain:
            return static_cast<LONG>(device->globalGain);
        case CameraProperty::FlipH:
            return GetFlipH(device);
        case CameraProperty::FlipV:
            return GetFlipV(device);
        case CameraProperty::SubSample:
            return device->subSample;
        case CameraProperty::FullFrameX:
            return device->fullFrameX;
        case CameraProperty::FullFrameY:
            return device->fullFrameY;
        case CameraProperty::FullFrameWidth:
            return device->fullFrameWidth;
        case CameraProperty::FullFrameHeight:
            return device->fullFrameHeight;
        case CameraProperty::RoiLocked:
            return InterlockedCompareExchange(&device->roiLocked, 0, 0);
        case CameraProperty::Clock:
            return QueryClock(device);
        case CameraProperty::Agc:
            return static_cast<LONG>(device->agc);
        case CameraProperty::Aec:
            return static_cast<LONG>(device->aec);
        case CameraProperty::RegisterRead:
            return ReadRegisterShadow(device);
        default: {
            LONG constant = 0;
            FindPropertyConstant(static_cast<ULONG>(id), &constant);
            return constant;
        }
    }
}

// Caller holds the settings lock. Sets of value-less properties do nothing.
void SetProperty(CameraDevice* device, CameraProperty id, LONG value) {
    ImageSetting setting;
    if (ImageSettingOf(id, &setting)) {
        SetImageSetting(device, setting, value);
        return;
    }
    switch (id) {
        case CameraProperty::ExTrigger:
            SetExternalTrigger(device, value != 0);
            break;
        case CameraProperty::Timeout:
            SetFrameTimeout(device, static_cast<ULONG>(value));
            break;
        case CameraProperty::Exposure:
            SetExposure(device, static_cast<ULONG>(value));
            break;
        case CameraProperty::GlobalGain:
            SetGlobalGain(device, static_cast<ULONG>(value));
            break;
        case CameraProperty::FlipH:
            SetFlipH(device, value);
            break;
        case CameraProperty::FlipV:
            SetFlipV(device, value);
            break;
        case CameraProperty::RegisterRead:
            device->memoryReadAddress = static_cast<ULONG>(value);
            break;
        default:
            break;
    }
}

}  // namespace

NTSTATUS HandleCameraProperty(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    CameraDevice* device = FindPropertyDevice(irp);
    if (device == nullptr || request == nullptr || data == nullptr) return STATUS_UNSUCCESSFUL;
    auto id = static_cast<CameraProperty>(request->Id);
    auto* value = static_cast<CameraPropertyValue*>(data);
    if (IsSetRequest(request) && id == CameraProperty::Reinitialize) {
        // The settings load takes the settings lock itself.
        PrepareCamera(device);
        return STATUS_SUCCESS;
    }
    SettingsLockGuard guard(device);
    if (IsSetRequest(request)) {
        SetProperty(device, id, value->value);
    } else {
        value->value = GetProperty(device, id);
    }
    return STATUS_SUCCESS;
}
