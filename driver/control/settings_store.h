// Settings persistence: 24 REG_DWORD values in the "Settings" subkey of the device's driver key.
// Passive level.
#pragma once

#include "driver/device/camera_device.h"

// True when the Settings key could be opened, whatever the values.
bool LoadSettings(CameraDevice* device);
bool SaveSettings(CameraDevice* device);

// Creates or opens every key of a backslash-separated path below the parent.
NTSTATUS CreateKeyPath(HANDLE parent, PCWSTR path, PHANDLE key);
// Replaces *value only on success.
NTSTATUS ReadDwordValue(HANDLE key, PCWSTR name, ULONG* value);
VOID WriteDwordValue(HANDLE key, PCWSTR name, ULONG value);
