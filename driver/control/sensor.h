// Sensor programming: register writes, control commands, the clock query, the start-up
// register sequence and the settings that live in sensor registers. Passive level.
#pragma once

#include "driver/device/camera_device.h"

// False when the packet did not go out whole, or reg is beyond the 1024 registers (nothing sent).
bool WriteSensorRegister(CameraDevice* device, ULONG reg, LONG value);
bool SendControl(CameraDevice* device, int selector, int value);
int QueryClock(CameraDevice* device);
bool InitSensor(CameraDevice* device);
bool SetExposure(CameraDevice* device, ULONG value);
bool SetGlobalGain(CameraDevice* device, ULONG value);
bool SetExternalTrigger(CameraDevice* device, bool on);
// CameraOps slot 1. Takes the settings lock.
bool StartSensor(CameraDevice* device);

// Relative waits in 100-ns units.
VOID DelayThread(LONGLONG interval);
