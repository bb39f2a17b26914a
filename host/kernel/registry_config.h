// Host configuration of the registry: where its database file lives and which registry keys
// belong to which device. The driver never calls these; hosts, tools and tests do.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/kernel.h"

namespace bayercam::host {

// The database file the registry calls use from now on; it and its folder are created on first
// use. Keys opened before keep using the file they were opened in. Without a call the file is
// $BAYERCAM_REGISTRY, else $XDG_STATE_HOME/bayercam/registry.db, else
// ~/.local/state/bayercam/registry.db.
void setRegistryPath(std::filesystem::path file);
std::filesystem::path registryPath();

// Lets go of the open database; the next registry call opens the file again. The file stays
// open while any key handle to it is open.
void closeRegistry() noexcept;

// Binds a physical device object to its device instance path (such as
// "USB\VID_1234&PID_5678\0001"). IoOpenDeviceRegistryKey then gives, creating it when missing,
//   PLUGPLAY_REGKEY_DRIVER: \Registry\Machine\System\CurrentControlSet\Control\Class\<instance>
// The same instance path in a later process reaches the same stored values.
void bindDeviceRegistryKey(PDEVICE_OBJECT physicalDevice, std::string instancePath);
void unbindDeviceRegistryKey(PDEVICE_OBJECT physicalDevice) noexcept;

// A REG_DWORD below a device's driver key, read the way an application reads a setting its
// driver stores there: the value `name` of the subkey `subkey`. Nothing when the device is not
// bound, or the key or the value is missing or not a four-byte REG_DWORD.
std::optional<ULONG> readDriverKeyDword(PDEVICE_OBJECT physicalDevice, PCWSTR subkey,
                                        PCWSTR name) noexcept;

}  // namespace bayercam::host
