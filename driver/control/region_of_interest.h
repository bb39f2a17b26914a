// The settings applied in the driver rather than in sensor registers: the region of interest,
// the white-balance switch, the flips and the Bayer phase. Passive level unless stated.
#pragma once

#include "driver/device/camera_device.h"

// Brings the region into the sensor frame; does nothing while a capture pin exists. The
// sub-sampling mode is accepted and ignored. The caller holds the settings lock (or the device
// is not yet visible to other threads), so a pin cannot lock the region halfway through.
void SetRoi(CameraDevice* device, LONG x, LONG y, LONG width, LONG height, LONG subSampling);
// Switching the automatic balance off makes the gains it measured the manual gains. The caller
// holds the settings lock.
void SetWhiteBalance(CameraDevice* device, LONG on);
// Atomic reads, at any IRQL: the delivery reads them for every frame.
LONG GetFlipH(CameraDevice* device);
LONG GetFlipV(CameraDevice* device);
void SetFlipH(CameraDevice* device, LONG value);
void SetFlipV(CameraDevice* device, LONG value);
// bayerPhase = nativeBayerPhase, at the grabber's start.
void RefreshBayerPhase(CameraDevice* device);
