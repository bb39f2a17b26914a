// The camera's private property set on the capture filter: 69 properties, numbered 0 to 68.
// Ranges and defaults are published as read-only constant properties. Handlers run in the
// caller's thread at passive level.
#pragma once

#include "platform/ks.h"

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
    LONG subSampling;  // handed to SetRoi, which ignores it
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

// Item handlers. Each returns STATUS_SUCCESS or STATUS_UNSUCCESSFUL only.
NTSTATUS HandleConstantProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);
NTSTATUS HandleAdjustmentProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);
NTSTATUS HandleRoiProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);
NTSTATUS HandleRegisterProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);
NTSTATUS HandlePacketProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);
NTSTATUS HandleCameraProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);

// The set for the filter's automation table.
extern const KSPROPERTY_SET CameraPropertySet;
