// The device descriptor each loaded minidriver registered with KsInitializeDriver.
#pragma once

#include "platform/ks.h"

namespace bayercam::host::ks {

void rememberDriver(PDRIVER_OBJECT driver, const KSDEVICE_DESCRIPTOR* descriptor) noexcept;
void forgetDriver(PDRIVER_OBJECT driver) noexcept;
// Null when the driver never called KsInitializeDriver.
const KSDEVICE_DESCRIPTOR* registeredDescriptor(PDRIVER_OBJECT driver) noexcept;

}  // namespace bayercam::host::ks
