// LoadSettings and SaveSettings: the values in their fixed order, their load defaults and the
// setters that apply them.
#include "control/settings_store.h"

#include "control/region_of_interest.h"
#include "control/sensor.h"
#include "streaming/color_pipeline.h"
#include "usb/frame_transfer.h"

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

constexpr ULONG TIMEOUT_MIN = 501;
constexpr ULONG TIMEOUT_MAX = 9999;

LONG Limit(ULONG value, LONG low, LONG high) {
    LONG v = static_cast<LONG>(value);
    return v < low ? low : v > high ? high : v;
}

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

void ApplyColorSettings(CameraDevice* device, const ULONG* v) {
    ColorPipeline* pipeline = device->colorPipeline;
    device->colorEnable = v[COLOR_ENABLE];
    if (pipeline != nullptr) StoreColorEnable(pipeline, static_cast<LONG>(v[COLOR_ENABLE]));
    SetWhiteBalance(device, static_cast<LONG>(v[WHITE_BALANCE]));
    device->colorCorrection = v[COLOR_CORRECTION];
    if (pipeline != nullptr)
        UpdateColorCorrection(pipeline, static_cast<LONG>(v[COLOR_CORRECTION]));
    LONG brightness = Limit(v[BRIGHTNESS], 0, 510);
    LONG contrast = Limit(v[CONTRAST], 0, 20);
    LONG saturation = Limit(v[SATURATION], 0, 20);
    LONG hue = Limit(v[HUE], 0, 359);
    device->brightness = brightness;
    if (pipeline != nullptr) UpdateBrightness(pipeline, brightness);
    device->contrast = contrast;
    if (pipeline != nullptr) UpdateContrast(pipeline, contrast);
    device->saturation = saturation;
    if (pipeline != nullptr) UpdateSaturation(pipeline, saturation);
    device->hue = hue;
    if (pipeline != nullptr) UpdateHue(pipeline, hue);
    LONG red = Limit(v[RED_GAIN], 1, 512);
    LONG green = Limit(v[GREEN_GAIN], 1, 512);
    LONG blue = Limit(v[BLUE_GAIN], 1, 512);
    device->redGain = red;
    if (pipeline != nullptr) StoreRedGain(pipeline, red);
    device->greenGain = green;
    if (pipeline != nullptr) StoreGreenGain(pipeline, green);
    device->blueGain = blue;
    if (pipeline != nullptr) StoreBlueGain(pipeline, blue);
}

void ApplySettings(CameraDevice* device, const ULONG* v) {
    if (v[TIMEOUT] >= TIMEOUT_MIN && v[TIMEOUT] <= TIMEOUT_MAX) {
        device->timeout = v[TIMEOUT];
        InterlockedExchange(&transferTimeoutMs, static_cast<LONG>(v[TIMEOUT]));
    }
    SetExposure(device, v[EXPOSURE]);
    SetGlobalGain(device, v[GLOBAL_GAIN]);
    ApplyColorSettings(device, v);
    InterlockedExchange(&device->flipH, static_cast<LONG>(v[FLIP_H]));
    InterlockedExchange(&device->flipV, static_cast<LONG>(v[FLIP_V]));
    SetRoi(device, v[ROI_X] < static_cast<ULONG>(SENSOR_WIDTH) ? v[ROI_X] : 0,
           v[ROI_Y] < static_cast<ULONG>(SENSOR_HEIGHT) ? v[ROI_Y] : 0,
           v[ROI_W] > static_cast<ULONG>(SENSOR_WIDTH) ? SENSOR_WIDTH : v[ROI_W],
           v[ROI_H] > static_cast<ULONG>(SENSOR_HEIGHT) ? SENSOR_HEIGHT : v[ROI_H], 0);
    SetExternalTrigger(device, v[EX_TRIGGER] != 0);
}

}  // namespace

bool LoadSettings(CameraDevice* device) {
    HANDLE driverKey;
    HANDLE settingsKey;
    if (!OpenSettingsKey(device, &driverKey, &settingsKey)) return false;
    ULONG values[SETTING_COUNT];
    for (ULONG i = 0; i < SETTING_COUNT; ++i) values[i] = SETTINGS[i].loadDefault;
    values[CLOCK] = static_cast<ULONG>(QueryClock(device));
    for (ULONG i = 0; i < SETTING_COUNT; ++i) {
        ReadDwordValue(settingsKey, SETTINGS[i].name, &values[i]);
    }
    ApplySettings(device, values);
    ZwClose(settingsKey);
    ZwClose(driverKey);
    return true;
}

// The device record's values as they are: the gains are not refreshed from the pipeline.
bool SaveSettings(CameraDevice* device) {
    HANDLE driverKey;
    HANDLE settingsKey;
    if (!OpenSettingsKey(device, &driverKey, &settingsKey)) return false;
    const ULONG values[SETTING_COUNT] = {
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
    for (ULONG i = 0; i < SETTING_COUNT; ++i) {
        WriteDwordValue(settingsKey, SETTINGS[i].name, values[i]);
    }
    ZwClose(settingsKey);
    ZwClose(driverKey);
    return true;
}
