// Checks of a camera device's record that must hold after any client request or stored setting:
// the region lies inside the sensor and the data range the pin offers describes it.
#pragma once

#include <string_view>

#include "driver/device/camera_device.h"

namespace bayercam::fuzz {

// Aborts with a report when the region or the offered data range is inconsistent.
void expectSoundRegion(CameraDevice* device, std::string_view what);

}  // namespace bayercam::fuzz
