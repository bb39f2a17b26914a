// A USB function plugged in behind a bus, its device keeping its settings under an instance path:
// the bus's own, or one given (a camera plugged into the same port again finds its settings).
#pragma once

#include <memory>
#include <string>

#include "host/usb/usb_bus.h"

namespace bayercam::testing {

std::unique_ptr<host::UsbBus> PlugIn(host::UsbFunction& function,
                                     const std::string& instancePath = {});
// Lets go of the settings binding and takes the bus away; nothing when there is none.
void Unplug(std::unique_ptr<host::UsbBus>& bus);
std::string InstancePath(const host::UsbBus& bus);

}  // namespace bayercam::testing
