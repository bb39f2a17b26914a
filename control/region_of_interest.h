// The region of interest and the white-balance switch: settings applied in the driver, not in
// sensor registers. Passive level.
#pragma once

#include "device/camera_device.h"

// Brings the region into the sensor frame; does nothing while a capture pin exists.
// The sub-sampling mode is accepted and ignored.
void SetRoi(CameraDevice* device, LONG x, LONG y, LONG width, LONG height, LONG subSampling);
void SetWhiteBalance(CameraDevice* device, LONG on);
