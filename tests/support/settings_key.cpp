#include "tests/support/settings_key.h"

namespace bayercam::host::testing {

HANDLE OpenSettingsKey(PDEVICE_OBJECT physicalDevice, HANDLE* driverKey) {
    *driverKey = nullptr;
    if (IoOpenDeviceRegistryKey(physicalDevice, PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS,
                                driverKey) != STATUS_SUCCESS) {
        return nullptr;
    }
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"Settings");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               *driverKey, nullptr);
    HANDLE key = nullptr;
    if (!NT_SUCCESS(ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, nullptr))) {
        ZwClose(*driverKey);
        *driverKey = nullptr;
        return nullptr;
    }
    return key;
}

}  // namespace bayercam::host::testing
