#include "tests/support/usb_port.h"

#include "host/kernel/registry_config.h"

namespace bayercam::testing {

std::unique_ptr<host::UsbBus> PlugIn(host::UsbFunction& function, const std::string& instancePath) {
    auto bus = std::make_unique<host::UsbBus>(function);
    host::bindDeviceRegistryKey(bus->physicalDeviceObject(),
                                instancePath.empty() ? InstancePath(*bus) : instancePath);
    return bus;
}

void Unplug(std::unique_ptr<host::UsbBus>& bus) {
    if (bus) host::unbindDeviceRegistryKey(bus->physicalDeviceObject());
    bus.reset();
}

std::string InstancePath(const host::UsbBus& bus) {
    const std::wstring& path = bus.instancePath();
    return {path.begin(), path.end()};
}

}  // namespace bayercam::testing
