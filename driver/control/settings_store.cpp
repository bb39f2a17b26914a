// LoadSettings and SaveSettings: the values in their fixed order, their load defaults and the
// setters that apply them.
#include "driver/control/settings_store.h"

#include "driver/control/image_settings.h"
#include "driver/control/region_of_interest.h"
#include "driver/control/sensor.h"

namespace {

enum Setting {
    TIMEOUT,
    EXPOSURE,
    GLOBAL_GAIN,
    FLIP_H,
    FLIP_V,
    COLOR_ENABLE,
    WHITE_BALANCE,
    COLOR_CORRECTION,
    BRIGHTNESS,
    CONTRAST,
    SATURATION,
    HUE,
    RED_GAIN,
    GREEN_GAIN,
    BLUE_GAIN,
    AGC,
    AEC,
    CLOCK,
    EX_TRIGGER,
    SUB_SAMPLE,
    ROI_X,
    ROI_Y,
    ROI_W,
    ROI_H,
    SETTING_COUNT
};

struct SettingValue {
    PCWSTR name;
    ULONG loadDefault;
};

constexpr SettingValue SETTINGS[SETTING_COUNT] = {
    {L"Timeout", 3000},   {L"Exposure", 3},    {L"GlobalGain", 0},   {L"FlipH", 0},
    {L"FlipV", 0},        {L"ColorEnable", 1}, {L"WhiteBalance", 0}, {L"ColorCorrection", 1},
    {L"Brightness", 255}, {L"Contrast", 10},   {L"Saturation", 10},  {L"Hue", 0},
    {L"RedGain", 128},    {L"GreenGain", 128}, {L"BlueGain", 128},   {L"AGC", 0},
    {L"AEC", 0},          {L"Clock", 0},       {L"ExTrigger", 0},    {L"SubSample", 0},
    {L"RoiX", 0},         {L"RoiY", 0},        {L"RoiW", 1360},      {L"RoiH", 1024},
};

// Opens the driver key and its Settings subkey; false when either cannot be opened.
bool OpenSettingsKey(CameraDevice* device, PHANDLE driverKey, PHANDLE settingsKey) {
    *driverKey = nullptr;
    *settingsKey = nullptr;
    NTSTATUS status = IoOpenDeviceRegistryKey(device->usb.physicalDevice, PLUGPLAY_REGKEY_DRIVER,
                                              READ_CONTROL, driverKey);
    if (status != STATUS_SUCCESS || *driverKey == nullptr) return false;
    status = CreateKeyPath(*driverKey, L"Settings", settingsKey);
    if (!NT_SUCCESS(status) || *settingsKey == nullptr) {
        ZwClose(*driverKey);
        return false;
    }
    return true;
}

// The order of application is fixed: exposure and gain, colour, flips, region, trigger.
// Caller holds the settings lock.
void ApplySettings(CameraDevice* device, const ULONG* v) {
    SetFrameTimeout(device, v[TIMEOUT]);
    SetExposure(device, v[EXPOSURE]);
    SetGlobalGain(device, v[GLOBAL_GAIN]);
    static constexpr struct {
        Setting stored;
        ImageSetting applied;
    } COLOR_SETTINGS[] = {
        {COLOR_ENABLE, COLOR_ENABLE_SETTING},
        {WHITE_BALANCE, WHITE_BALANCE_SETTING},
        {COLOR_CORRECTION, COLOR_CORRECTION_SETTING},
        {BRIGHTNESS, BRIGHTNESS_SETTING},
        {CONTRAST, CONTRAST_SETTING},
        {SATURATION, SATURATION_SETTING},
        {HUE, HUE_SETTING},
        {RED_GAIN, RED_GAIN_SETTING},
        {GREEN_GAIN, GREEN_GAIN_SETTING},
        {BLUE_GAIN, BLUE_GAIN_SETTING},
    };
    for (const auto& color : COLOR_SETTINGS) {
        SetImageSetting(device, color.applied, static_cast<LONG>(v[color.stored]));
    }
    SetFlipH(device, static_cast<LONG>(v[FLIP_H]));
    SetFlipV(device, static_cast<LONG>(v[FLIP_V]));
    SetRoi(device, v[ROI_X] < static_cast<ULONG>(SENSOR_WIDTH) ? v[ROI_X] : 0,
           v[ROI_Y] < static_cast<ULONG>(SENSOR_HEIGHT) ? v[ROI_Y] : 0,
           v[ROI_W] > static_cast<ULONG>(SENSOR_WIDTH) ? SENSOR_WIDTH : v[ROI_W],
           v[ROI_H] > static_cast<ULONG>(SENSOR_HEIGHT) ? SENSOR_HEIGHT : v[ROI_H], 0);
    SetExternalTrigger(device, v[EX_TRIGGER] != 0);
}

// The device record's values in table order. Caller holds the settings lock.
void CurrentValues(CameraDevice* device, ULONG* values) {
    const ULONG current[SETTING_COUNT] = {
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
        ULONG values[SETTING_COUNT];
        SettingsLockGuard guard(device);
        for (ULONG i = 0; i < SETTING_COUNT; ++i) values[i] = SETTINGS[i].loadDefault;
        values[CLOCK] = static_cast<ULONG>(QueryClock(device));
        for (ULONG i = 0; i < SETTING_COUNT; ++i) {
            ReadDwordValue(settingsKey, SETTINGS[i].name, &values[i]);
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
    ULONG values[SETTING_COUNT];
    {
        SettingsLockGuard guard(device);
        CurrentValues(device, values);
    }
    for (ULONG i = 0; i < SETTING_COUNT; ++i) {
        WriteDwordValue(settingsKey, SETTINGS[i].name, values[i]);
    }
    ZwClose(settingsKey);
    ZwClose(driverKey);
    return true;
}
