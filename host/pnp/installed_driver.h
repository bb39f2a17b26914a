// The driver installed for the camera: the load entry that the platform's loader runs when the
// camera arrives. A host hands it to KsClient::loadDriver; the application side never names the
// driver's own headers to reach it.
#pragma once

#include "platform/kernel.h"

namespace bayercam::host {

PDRIVER_INITIALIZE installedCameraDriver() noexcept;

}  // namespace bayercam::host
