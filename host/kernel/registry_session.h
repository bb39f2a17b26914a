// What the registry calls need from the host configuration: the open database and the
// registry keys bound to device objects.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/kernel/registry_store.h"
#include "platform/kernel.h"

namespace bayercam::host {

// The database of the configured file, opened on first use. A failure to open is reported
// each time, so a repaired file is picked up by the next call.
NTSTATUS currentRegistryStore(std::shared_ptr<RegistryStore>& store) noexcept;

// The absolute key path (without the leading backslash) of a bound device's driver key; nothing
// for an unbound device object.
std::optional<std::string> driverRegistryKeyPath(PDEVICE_OBJECT physicalDevice);

}  // namespace bayercam::host
