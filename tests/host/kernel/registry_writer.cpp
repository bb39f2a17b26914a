// A second process for the registry sharing tests. It binds a device object to the instance path
// it is given and writes REG_DWORD values PREFIX0 .. PREFIX<COUNT-1>, value i holding i, to
// "Settings" below its driver key; exit status 0 when all writes succeeded.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/kernel/registry_config.h"
#include "tests/host/kernel/registry_helpers.h"

using namespace bayercam::host;
using namespace bayercam::host::testing;

namespace {

bool succeeded(NTSTATUS status, const char* what) {
    if (NT_SUCCESS(status)) return true;
    std::fprintf(stderr, "registry_writer: %s failed: 0x%08X\n", what,
                 static_cast<unsigned>(status));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: registry_writer FILE INSTANCE PREFIX COUNT\n");
        return 2;
    }
    setRegistryPath(argv[1]);
    DEVICE_OBJECT pdo{};
    bindDeviceRegistryKey(&pdo, argv[2]);
    HANDLE driverKey = nullptr;
    HANDLE settings = nullptr;
    if (!succeeded(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &driverKey),
                   "open driver key") ||
        !succeeded(createKey(driverKey, L"Settings", settings), "create Settings")) {
        return 1;
    }
    const std::string prefix = argv[3];
    bool ok = true;
    for (int i = 0; ok && i < std::atoi(argv[4]); ++i) {
        ok = succeeded(
            setDword(settings, std::wstring(prefix.begin(), prefix.end()) + std::to_wstring(i), i),
            "set value");
    }
    ZwClose(settings);
    ZwClose(driverKey);
    return ok ? 0 : 1;
}
