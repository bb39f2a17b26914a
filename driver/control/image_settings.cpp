// The colour settings shared by the device record and the ColorPipeline, and the frame time-out.
#include "driver/control/image_settings.h"

#include "driver/control/region_of_interest.h"
#include "driver/streaming/color_pipeline.h"
#include "driver/usb/frame_transfer.h"

namespace {

constexpr LONG UNLIMITED_LOW = -2147483647 - 1;
constexpr LONG UNLIMITED_HIGH = 2147483647;

struct SettingEntry {
    ULONG CameraDevice::*field;
    volatile LONG ColorPipeline::*live;
    LONG minimum;
    LONG maximum;
    VOID (*handOver)(ColorPipeline*, LONG);  // Store* or rebuilding Update*
};

// Indexed by ImageSetting. The white balance goes through SetWhiteBalance.
constexpr SettingEntry SETTINGS[IMAGE_SETTING_COUNT] = {
    {&CameraDevice::colorEnable, &ColorPipeline::colorEnable, UNLIMITED_LOW, UNLIMITED_HIGH,
     StoreColorEnable},
    {&CameraDevice::whiteBalance, &ColorPipeline::whiteBalance, UNLIMITED_LOW, UNLIMITED_HIGH,
     nullptr},
    {&CameraDevice::redGain, &ColorPipeline::redGain, COLOR_GAIN_MIN, COLOR_GAIN_MAX, StoreRedGain},
    {&CameraDevice::greenGain, &ColorPipeline::greenGain, COLOR_GAIN_MIN, COLOR_GAIN_MAX,
     StoreGreenGain},
    {&CameraDevice::blueGain, &ColorPipeline::blueGain, COLOR_GAIN_MIN, COLOR_GAIN_MAX,
     StoreBlueGain},
    {&CameraDevice::colorCorrection, &ColorPipeline::colorCorrection, UNLIMITED_LOW, UNLIMITED_HIGH,
     UpdateColorCorrection},
    {&CameraDevice::brightness, &ColorPipeline::brightness, 0, BRIGHTNESS_MAX, UpdateBrightness},
    {&CameraDevice::contrast, &ColorPipeline::contrast, 0, CONTRAST_MAX, UpdateContrast},
    {&CameraDevice::saturation, &ColorPipeline::saturation, 0, SATURATION_MAX, UpdateSaturation},
    {&CameraDevice::hue, &ColorPipeline::hue, 0, HUE_MAX, UpdateHue},
};

LONG ReadLive(ColorPipeline* pipeline, volatile LONG ColorPipeline::*live) {
    return InterlockedCompareExchange(&(pipeline->*live), 0, 0);
}

}  // namespace

void SetImageSetting(CameraDevice* device, ImageSetting setting, LONG value) {
    if (setting == WHITE_BALANCE_SETTING) {
        SetWhiteBalance(device, value);
        return;
    }
    const SettingEntry& entry = SETTINGS[setting];
    LONG v = value < entry.minimum ? entry.minimum : value > entry.maximum ? entry.maximum : value;
    device->*entry.field = static_cast<ULONG>(v);
    ColorPipeline* pipeline = device->colorPipeline;
    if (pipeline != nullptr) entry.handOver(pipeline, v);
}

LONG GetImageSetting(CameraDevice* device, ImageSetting setting) {
    const SettingEntry& entry = SETTINGS[setting];
    ColorPipeline* pipeline = device->colorPipeline;
    if (pipeline != nullptr)
        device->*entry.field = static_cast<ULONG>(ReadLive(pipeline, entry.live));
    return static_cast<LONG>(device->*entry.field);
}

void SetFrameTimeout(CameraDevice* device, ULONG milliseconds) {
    if (milliseconds < FRAME_TIMEOUT_MIN || milliseconds > FRAME_TIMEOUT_MAX) return;
    device->timeout = milliseconds;
    InterlockedExchange(&transferTimeoutMs, static_cast<LONG>(milliseconds));
}

void AttachColorPipeline(CameraDevice* device, ColorPipeline* pipeline) {
    SettingsLockGuard guard(device);
    StoreWhiteBalance(pipeline, static_cast<LONG>(device->whiteBalance));
    StoreBayerPhase(pipeline, static_cast<LONG>(device->bayerPhase));
    StoreColorEnable(pipeline, static_cast<LONG>(device->colorEnable));
    StoreRedGain(pipeline, static_cast<LONG>(device->redGain));
    StoreGreenGain(pipeline, static_cast<LONG>(device->greenGain));
    StoreBlueGain(pipeline, static_cast<LONG>(device->blueGain));
    UpdateColorCorrection(pipeline, static_cast<LONG>(device->colorCorrection));
    UpdateBrightness(pipeline, static_cast<LONG>(device->brightness));
    UpdateContrast(pipeline, static_cast<LONG>(device->contrast));
    UpdateSaturation(pipeline, static_cast<LONG>(device->saturation));
    UpdateHue(pipeline, static_cast<LONG>(device->hue));
    device->colorPipeline = pipeline;
}

ColorPipeline* DetachColorPipeline(CameraDevice* device) {
    SettingsLockGuard guard(device);
    ColorPipeline* pipeline = device->colorPipeline;
    device->colorPipeline = nullptr;
    return pipeline;
}
