// Device objects and device stacks.
#pragma once

#include "platform/kernel.h"

namespace bayercam::host::devices {

// True while `device` is a device object created by IoCreateDevice and not yet deleted.
bool isDeviceObject(const DEVICE_OBJECT* device) noexcept;

// The device a device is attached to (the next lower one), or null.
PDEVICE_OBJECT lowerDeviceOf(const DEVICE_OBJECT* device) noexcept;

}  // namespace bayercam::host::devices
