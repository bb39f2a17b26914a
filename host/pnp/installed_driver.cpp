#include "host/pnp/installed_driver.h"

#include "driver/entry/driver_entry.h"

namespace bayercam::host {

PDRIVER_INITIALIZE installedCameraDriver() noexcept { return DriverEntry; }

}  // namespace bayercam::host
