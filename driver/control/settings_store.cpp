// LoadSettings and SaveSettings: the values in their fixed order, their load defaults and the
// setters that apply them.
#include "driver/control/settings_store.h"

#include "driver/control/image_settings.h"
#include "driver/control/region_of_interest.h"
#include "driver/control/sensor.h"

namespace {

// The value each setting takes when it is not stored, in the order of CameraSetting.
constexpr ULONG LOAD_DEFAULTS[CAMERA_SETTING_COUNT] = {
    3000,  // Timeout
    3,     // Exposure
    0,     // GlobalGain
    0,     // FlipH
    0,     // FlipV
    1,     // ColorEnable
    0,     // WhiteBalance
    1,     // ColorCorrection
    255,   // Brightness
    10,    // Contrast
    10,    // Saturation
    0,     // Hue
    128,   // RedGain
    128,   // GreenGain
    128,   // BlueGain
    0,     // AGC
    0,     // AEC
    0,     // Clock: the camera's answer to a clock query replaces it
    0,     // ExTrigger
    0,     // SubSample
    0,     // RoiX
    0,     // RoiY
    1360,  // RoiW
    1024,  // RoiH
};

// Opens the driver key and its Settings subkey; false when either cannot be opened.
bool OpenSettingsKey(CameraDevice* device, PHANDLE driverKey, PHANDLE settingsKey) {
    *driverKey = nullptr;
    *settingsKey = nullptr;
    NTSTATUS status = IoOpenDeviceRegistryKey(device->usb.physicalDevice, PLUGPLAY_REGKEY_DRIVER,
                                              READ_CONTROL, driverKey);
    if (status != STATUS_SUCCESS || *driverKey == nullptr) return false;
    status = CreateKeyPath(*driverKey, CAMERA_SETTINGS_KEY, settingsKey);
    if (!NT_SUCCESS(status) || *settingsKey == nullptr) {
        ZwClose(*driverKey);
        return false;
    }
    return true;
}

// The order of application is fixed: exposure and gain, colour, flips, region, trigger.
// Caller holds the settings lock.
void ApplySettings(CameraDevice* device, const ULONG* v) {
    SetFrameTimeout(device, v[SETTING_TIMEOUT]);
    SetExposure(device, v[SETTING_EXPOSURE]);
    SetGlobalGain(device, v[SETTING_GLOBAL_GAIN]);
    static constexpr struct {
        CameraSetting stored;
        ImageSetting applied;
    } COLOR_SETTINGS[] = {
        {SETTING_COLOR_ENABLE, COLOR_ENABLE_SETTING},
        {SETTING_WHITE_BALANCE, WHITE_BALANCE_SETTING},
        {SETTING_COLOR_CORRECTION, COLOR_CORRECTION_SETTING},
        {SETTING_BRIGHTNESS, BRIGHTNESS_SETTING},
        {SETTING_CONTRAST, CONTRAST_SETTING},
        {SETTING_SATURATION, SATURATION_SETTING},
        {SETTING_HUE, HUE_SETTING},
        {SETTING_RED_GAIN, RED_GAIN_SETTING},
        {SETTING_GREEN_GAIN, GREEN_GAIN_SETTING},
        {SETTING_BLUE_GAIN, BLUE_GAIN_SETTING},
    };
    for (const auto& color : COLOR_SETTINGS) {
        SetImageSetting(device, color.applied, static_cast<LONG>(v[color.stored]));
    }
    SetFlipH(device, static_cast<LONG>(v[SETTING_FLIP_H]));
    SetFlipV(device, static_cast<LONG>(v[SETTING_FLIP_V]));
    const CameraRegion region =
        LoadedRegionRequest(v[SETTING_ROI_X], v[SETTING_ROI_Y], v[SETTING_ROI_W], v[SETTING_ROI_H]);
    SetRoi(device, region.x, region.y, region.width, region.height, 0);
    SetExternalTrigger(device, v[SETTING_EX_TRIGGER] != 0);
}

// The device record's values in table order. Caller holds the settings lock.
void CurrentValues(CameraDevice* device, ULONG* values) {
    const ULONG current[CAMERA_SETTING_COUNT] = {
        device->timeout,
        device->exposure,
        device->globalGain,
        static_cast<ULONG>(InterlockedCompareExchange(&device->flipH, 0, 0)),
        static_cast<ULONG>(InterlockedCompareExchange(&device->flipV, 0, 0)),
        device->colorEnable,
        device->whiteBalance,
        device->colorCorrection,
        device->brightness,
        device->contrast,
        device->saturation,
        device->hue,
        device->redGain,
        device->greenGain,
        device->blueGain,
        device->agc,
        device->aec,
        device->clock,
        device->exTrigger,
        static_cast<ULONG>(device->subSample),
        static_cast<ULONG>(device->roiX),
        static_cast<ULONG>(device->roiY),
        static_cast<ULONG>(device->roiW),
        static_cast<ULONG>(device->roiH),
    };
    RtlCopyMemory(values, current, sizeof(current));
}

}  // namespace

bool LoadSettings(CameraDevice* device) {
    HANDLE driverKey;
    HANDLE settingsKey;
    if (!OpenSettingsKey(device, &driverKey, &settingsKey)) return false;
    {
        ULONG values[CAMERA_SETTING_COUNT];
        SettingsLockGuard guard(device);
        for (ULONG i = 0; i < CAMERA_SETTING_COUNT; ++i) values[i] = LOAD_DEFAULTS[i];
        values[SETTING_CLOCK] = static_cast<ULONG>(QueryClock(device));
        for (ULONG i = 0; i < CAMERA_SETTING_COUNT; ++i) {
            ReadDwordValue(settingsKey, CAMERA_SETTING_NAMES[i], &values[i]);
        }
        ApplySettings(device, values);
    }
    ZwClose(settingsKey);
    ZwClose(driverKey);
    return true;
}

// The device record's values as they are: the gains are not refreshed from the pipeline.
bool SaveSettings(CameraDevice* device) {
    HANDLE driverKey;
    HANDLE settingsKey;
    if (!OpenSettingsKey(device, &driverKey, &settingsKey)) return false;
    ULONG values[CAMERA_SETTING_COUNT];
    {
        SettingsLockGuard guard(device);
        CurrentValues(device, values);
    }
    for (ULONG i = 0; i < CAMERA_SETTING_COUNT; ++i) {
        WriteDwordValue(settingsKey, CAMERA_SETTING_NAMES[i], values[i]);
    }
    ZwClose(settingsKey);
    ZwClose(driverKey);
    return true;
}
