// The settings kept in the device record and, while a capture is acquired, in its
// ColorPipeline: one setter and one reader each, shared by the property handlers and the
// settings load. Passive level; the caller holds the device's settings lock, which keeps the
// colorPipeline pointer and the pipeline's settings consistent with the record.
#pragma once

#include "driver/device/camera_device.h"

struct ColorPipeline;

enum ImageSetting {
    COLOR_ENABLE_SETTING,
    WHITE_BALANCE_SETTING,
    RED_GAIN_SETTING,
    GREEN_GAIN_SETTING,
    BLUE_GAIN_SETTING,
    COLOR_CORRECTION_SETTING,
    BRIGHTNESS_SETTING,
    CONTRAST_SETTING,
    SATURATION_SETTING,
    HUE_SETTING,
    IMAGE_SETTING_COUNT
};

constexpr LONG COLOR_GAIN_MIN = 1;
constexpr LONG COLOR_GAIN_MAX = 512;
constexpr LONG COLOR_GAIN_DEFAULT = 128;
constexpr LONG BRIGHTNESS_MAX = 510;
constexpr LONG BRIGHTNESS_DEFAULT = 255;
constexpr LONG CONTRAST_MAX = 20;
constexpr LONG CONTRAST_DEFAULT = 10;
constexpr LONG SATURATION_MAX = 20;
constexpr LONG SATURATION_DEFAULT = 10;
constexpr LONG HUE_MAX = 359;
constexpr ULONG FRAME_TIMEOUT_MIN = 501;
constexpr ULONG FRAME_TIMEOUT_MAX = 9999;

// Limits the value to the setting's range, stores it in the device record and hands it to the
// pipeline (a rebuilding setter rebuilds its matrix only when the value changed). The white
// balance is switched by SetWhiteBalance, which also takes over the measured gains.
void SetImageSetting(CameraDevice* device, ImageSetting setting, LONG value);
// The device record's value, first refreshed from the pipeline when one exists: the
// white-balance measurement changes the pipeline's gains while a capture runs.
LONG GetImageSetting(CameraDevice* device, ImageSetting setting);

// Takes a frame time-out of 501 to 9999 ms (the record and the driver-wide transfer bound);
// ignores any other value.
void SetFrameTimeout(CameraDevice* device, ULONG milliseconds);

// The capture's hand-over of its pipeline. Attach copies the device's settings into a new
// pipeline and installs it as the device's colorPipeline; Detach uninstalls it and returns it
// for the caller to free. Both take the settings lock, so a property handler never works on a
// pipeline that is being freed, and no setting changed during the hand-over is lost.
void AttachColorPipeline(CameraDevice* device, ColorPipeline* pipeline);
ColorPipeline* DetachColorPipeline(CameraDevice* device);
