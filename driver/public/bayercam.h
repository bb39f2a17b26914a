// The driver's interface for applications: the camera property set (its GUID, the property ids
// and the layouts of their values), the sensor's size and how the driver takes a region of
// interest, and the settings it stores for each camera. An application includes this header and
// no other of the driver's.
#pragma once

#include "platform/ks.h"

// ---------------------------------------------------------------- the sensor

constexpr LONG SENSOR_WIDTH = 1360;
constexpr LONG SENSOR_HEIGHT = 1024;
// Registers 0 to 1023: property 57 writes one, property 58 reads back the last value written.
constexpr ULONG SENSOR_REGISTER_COUNT = 1024;

// ---------------------------------------------------------------- the property set

// The camera's private property set on the capture filter: 69 properties, numbered 0 to 68.
// Ranges and defaults are published as read-only constant properties.
// {3F263C66-0FDA-41D5-9EA8-CF2E342CEFB2}
constexpr GUID CameraPropertySetId = {
    0x3F263C66, 0x0FDA, 0x41D5, {0x9E, 0xA8, 0xCF, 0x2E, 0x34, 0x2C, 0xEF, 0xB2}};

constexpr ULONG CAMERA_PROPERTY_COUNT = 69;

// Property ids with a name; the others carry only a constant or no effect.
enum class CameraProperty : ULONG {
    ExTrigger = 0,
    Timeout = 1,
    Exposure = 2,
    ExposureMin = 3,
    ExposureMax = 4,
    ExposureDefault = 5,
    GlobalGain = 6,
    GlobalGainMin = 7,
    GlobalGainMax = 8,
    GlobalGainDefault = 9,
    FlipH = 10,
    FlipV = 11,
    ColorEnable = 12,
    WhiteBalance = 13,
    RedGain = 14,
    GreenGain = 15,
    BlueGain = 16,
    ColorGainMin = 17,
    ColorGainMax = 18,
    ColorGainDefault = 19,
    Brightness = 20,
    BrightnessMin = 21,
    BrightnessMax = 22,
    BrightnessDefault = 23,
    Contrast = 24,
    ContrastMin = 25,
    ContrastMax = 26,
    ContrastDefault = 27,
    Saturation = 28,
    SaturationMin = 29,
    SaturationMax = 30,
    SaturationDefault = 31,
    Hue = 32,
    HueMin = 33,
    HueMax = 34,
    HueDefault = 35,
    SubSample = 37,
    SensorWidth = 38,
    SensorHeight = 39,
    FullFrameX = 40,
    FullFrameY = 41,
    FullFrameWidth = 42,
    FullFrameHeight = 43,
    Roi = 44,
    RoiLocked = 45,
    ColorCorrection = 48,
    Clock = 49,
    Agc = 55,
    Aec = 56,
    RegisterWrite = 57,
    RegisterRead = 58,
    RawPacket = 59,
    CameraByte = 60,
    Reinitialize = 67,
};

// Request and value buffer of every property but 44, 59 and 60.
struct CameraPropertyValue {
    KSPROPERTY property;
    LONG value;        // read on set, written on get
    LONG secondValue;  // property 57 only: the register value
};
static_assert(sizeof(CameraPropertyValue) == 32, "CameraPropertyValue layout");
static_assert(offsetof(CameraPropertyValue, value) == 24, "CameraPropertyValue layout");

// Property 44.
struct CameraRoiValue {
    KSPROPERTY property;
    LONG subSampling;  // accepted and ignored
    LONG x;
    LONG y;
    LONG width;
    LONG height;
    LONG reserved;
};
static_assert(sizeof(CameraRoiValue) == 48, "CameraRoiValue layout");
static_assert(offsetof(CameraRoiValue, x) == 28, "CameraRoiValue layout");

// Properties 59 and 60.
struct CameraPacketValue {
    KSPROPERTY property;
    LONG address;  // property 60, set
    LONG count;    // property 59, set
    UCHAR payload[64];
};
static_assert(sizeof(CameraPacketValue) == 96, "CameraPacketValue layout");
static_assert(offsetof(CameraPacketValue, payload) == 32, "CameraPacketValue layout");

// ---------------------------------------------------------------- the region of interest

// The part of each sensor frame that the driver converts. The capture pin offers a picture of
// the region's height and of its width rounded down to a multiple of 8. The region changes only
// while no capture pin exists.
struct CameraRegion {
    LONG x;
    LONG y;
    LONG width;
    LONG height;
};

constexpr LONG CAMERA_REGION_MAX_X = SENSOR_WIDTH - 8;
constexpr LONG CAMERA_REGION_MAX_Y = SENSOR_HEIGHT - 8;

// An odd origin moves up by one, then stays within 0 to largest; computed in 64 bits so that
// 2^31 - 1 cannot wrap.
constexpr LONG LimitRegionOrigin(LONG origin, LONG largest) {
    LONGLONG even = static_cast<LONGLONG>(origin) + (origin % 2 != 0 ? 1 : 0);
    if (even > largest) even = largest;
    if (even < 0) even = 0;
    return static_cast<LONG>(even);
}

// An extent of 0 or less, or beyond the sensor, is the sensor's; then it ends at the sensor's
// edge. origin is within the sensor, so origin + extent cannot wrap.
constexpr LONG LimitRegionExtent(LONG extent, LONG origin, LONG full) {
    if (extent <= 0 || extent > full) extent = full;
    if (origin + extent > full) extent = full - origin;
    return extent;
}

// The region the driver takes from a request (property 44, or the stored settings).
constexpr CameraRegion LimitCameraRegion(LONG x, LONG y, LONG width, LONG height) {
    const LONG left = LimitRegionOrigin(x, CAMERA_REGION_MAX_X);
    const LONG top = LimitRegionOrigin(y, CAMERA_REGION_MAX_Y);
    return {left, top, LimitRegionExtent(width, left, SENSOR_WIDTH),
            LimitRegionExtent(height, top, SENSOR_HEIGHT)};
}

// The request that loading the stored RoiX, RoiY, RoiW and RoiH makes: an origin beyond the
// sensor loads as 0, an extent beyond it as the sensor's.
constexpr CameraRegion LoadedRegionRequest(ULONG x, ULONG y, ULONG width, ULONG height) {
    return {x < static_cast<ULONG>(SENSOR_WIDTH) ? static_cast<LONG>(x) : 0,
            y < static_cast<ULONG>(SENSOR_HEIGHT) ? static_cast<LONG>(y) : 0,
            width > static_cast<ULONG>(SENSOR_WIDTH) ? SENSOR_WIDTH : static_cast<LONG>(width),
            height > static_cast<ULONG>(SENSOR_HEIGHT) ? SENSOR_HEIGHT : static_cast<LONG>(height)};
}

// The width of the picture a region gives.
constexpr LONG PictureWidthOf(LONG regionWidth) { return regionWidth - regionWidth % 8; }

// ---------------------------------------------------------------- stored settings

// The settings the driver keeps for each camera: REG_DWORD values in this subkey of the camera's
// driver (software) key. It loads them at every device start and stores them at every filter
// close and device stop.
constexpr PCWSTR CAMERA_SETTINGS_KEY = L"Settings";

// The values, in the order the driver loads and stores them.
enum CameraSetting : ULONG {
    SETTING_TIMEOUT,
    SETTING_EXPOSURE,
    SETTING_GLOBAL_GAIN,
    SETTING_FLIP_H,
    SETTING_FLIP_V,
    SETTING_COLOR_ENABLE,
    SETTING_WHITE_BALANCE,
    SETTING_COLOR_CORRECTION,
    SETTING_BRIGHTNESS,
    SETTING_CONTRAST,
    SETTING_SATURATION,
    SETTING_HUE,
    SETTING_RED_GAIN,
    SETTING_GREEN_GAIN,
    SETTING_BLUE_GAIN,
    SETTING_AGC,
    SETTING_AEC,
    SETTING_CLOCK,
    SETTING_EX_TRIGGER,
    SETTING_SUB_SAMPLE,
    SETTING_ROI_X,
    SETTING_ROI_Y,
    SETTING_ROI_W,
    SETTING_ROI_H,
    CAMERA_SETTING_COUNT
};

constexpr PCWSTR CAMERA_SETTING_NAMES[CAMERA_SETTING_COUNT] = {
    L"Timeout",      L"Exposure",        L"GlobalGain", L"FlipH",    L"FlipV",      L"ColorEnable",
    L"WhiteBalance", L"ColorCorrection", L"Brightness", L"Contrast", L"Saturation", L"Hue",
    L"RedGain",      L"GreenGain",       L"BlueGain",   L"AGC",      L"AEC",        L"Clock",
    L"ExTrigger",    L"SubSample",       L"RoiX",       L"RoiY",     L"RoiW",       L"RoiH",
};
