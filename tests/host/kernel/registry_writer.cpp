// A second process for the registry sharing tests; see registry_writer.h.
#include "tests/host/kernel/registry_writer.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

bool writeDwords(HANDLE key, const std::string& prefix, int count) {
    const std::wstring widePrefix(prefix.begin(), prefix.end());
    for (int i = 0; i < count; ++i) {
        if (!succeeded(setDword(key, widePrefix + std::to_wstring(i), i), "set value")) {
            return false;
        }
    }
    return true;
}

bool writeGenerations(HANDLE key) {
    for (ULONG generation = 1;; ++generation) {
        std::vector<ULONG> words(kBlockSize / sizeof(ULONG), generation);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(words.data());
        for (int block = 0; block < kBlockCount; ++block) {
            std::vector<std::uint8_t> data(bytes, bytes + kBlockSize);
            if (!succeeded(setValue(key, L"Block" + std::to_wstring(block), REG_BINARY, data),
                           "set block")) {
                return false;
            }
        }
        if (!succeeded(setDword(key, L"Generation", generation), "set generation")) return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 3 ? argv[3] : "";
    if (!((mode == "dwords" && argc == 6) || (mode == "generations" && argc == 4))) {
        std::fprintf(stderr,
                     "usage: registry_writer FILE INSTANCE (dwords PREFIX COUNT | generations)\n");
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
    bool ok = mode == "dwords" ? writeDwords(settings, argv[4], std::atoi(argv[5]))
                               : writeGenerations(settings);
    ZwClose(settings);
    ZwClose(driverKey);
    return ok ? 0 : 1;
}
