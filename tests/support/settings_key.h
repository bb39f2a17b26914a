// The device's stored settings key, opened the way the driver opens it, for tests that read or
// plant settings behind the driver's back.
#pragma once

#include "platform/kernel.h"

namespace bayercam::host::testing {

// The Settings subkey of the device's driver key, created when missing; null on failure. On
// success *driverKey is open too and the caller closes both.
HANDLE OpenSettingsKey(PDEVICE_OBJECT physicalDevice, HANDLE* driverKey);

}  // namespace bayercam::host::testing
