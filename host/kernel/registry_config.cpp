#include "host/kernel/registry_config.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

#include "host/kernel/registry_names.h"
#include "host/kernel/registry_session.h"

namespace bayercam::host {
namespace {

constexpr const char* kClassRoot = "Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\";

struct RegistryConfig {
    std::mutex lock;
    std::filesystem::path file;            // guarded by lock; empty until chosen
    std::shared_ptr<RegistryStore> store;  // guarded by lock; null until first use
    std::unordered_map<PDEVICE_OBJECT, std::string> instances;  // guarded by lock
};

RegistryConfig& config() {
    static RegistryConfig instance;
    return instance;
}

std::filesystem::path defaultRegistryPath() {
    if (const char* file = std::getenv("BAYERCAM_REGISTRY"); file && *file) return file;
    std::filesystem::path state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) {
        state = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        state = std::filesystem::path(home) / ".local" / "state";
    } else {
        state = std::filesystem::temp_directory_path();
    }
    return state / "bayercam" / "registry.db";
}

// Caller holds config().lock.
const std::filesystem::path& chosenPath(RegistryConfig& c) {
    if (c.file.empty()) c.file = defaultRegistryPath();
    return c.file;
}

}  // namespace

void setRegistryPath(std::filesystem::path file) {
    RegistryConfig& c = config();
    std::shared_ptr<RegistryStore> previous;
    std::lock_guard guard(c.lock);
    c.file = std::move(file);
    previous = std::move(c.store);
}

std::filesystem::path registryPath() {
    RegistryConfig& c = config();
    std::lock_guard guard(c.lock);
    return chosenPath(c);
}

void closeRegistry() noexcept {
    RegistryConfig& c = config();
    std::shared_ptr<RegistryStore> previous;
    std::lock_guard guard(c.lock);
    previous = std::move(c.store);
}

void bindDeviceRegistryKey(PDEVICE_OBJECT physicalDevice, std::string instancePath) {
    if (physicalDevice == nullptr) throw std::invalid_argument("no device object");
    if (!isValidKeyPath(instancePath)) {
        throw std::invalid_argument("bad device instance path: " + instancePath);
    }
    RegistryConfig& c = config();
    std::lock_guard guard(c.lock);
    c.instances[physicalDevice] = std::move(instancePath);
}

void unbindDeviceRegistryKey(PDEVICE_OBJECT physicalDevice) noexcept {
    RegistryConfig& c = config();
    std::lock_guard guard(c.lock);
    c.instances.erase(physicalDevice);
}

NTSTATUS currentRegistryStore(std::shared_ptr<RegistryStore>& store) noexcept {
    RegistryConfig& c = config();
    std::lock_guard guard(c.lock);
    try {
        if (!c.store) {
            NTSTATUS status = RegistryStore::open(chosenPath(c), c.store);
            if (!NT_SUCCESS(status)) return status;
        }
        store = c.store;
        return STATUS_SUCCESS;
    } catch (const std::bad_alloc&) {
        return STATUS_INSUFFICIENT_RESOURCES;
    } catch (...) {
        return STATUS_REGISTRY_IO_FAILED;
    }
}

std::optional<std::string> driverRegistryKeyPath(PDEVICE_OBJECT physicalDevice) {
    RegistryConfig& c = config();
    std::lock_guard guard(c.lock);
    auto it = c.instances.find(physicalDevice);
    if (it == c.instances.end()) return std::nullopt;
    return kClassRoot + it->second;
}

std::optional<ULONG> readDriverKeyDword(PDEVICE_OBJECT physicalDevice, PCWSTR subkey,
                                        PCWSTR name) noexcept {
    try {
        UNICODE_STRING wideSubkey;
        UNICODE_STRING wideName;
        RtlInitUnicodeString(&wideSubkey, subkey);
        RtlInitUnicodeString(&wideName, name);
        const std::optional<std::string> key = driverRegistryKeyPath(physicalDevice);
        const std::optional<std::string> below = utf8FromUnicodeString(wideSubkey);
        const std::optional<std::string> value = utf8FromUnicodeString(wideName);
        std::shared_ptr<RegistryStore> store;
        if (!key || !below || !value || !NT_SUCCESS(currentRegistryStore(store))) {
            return std::nullopt;
        }
        RegistryStore::KeyId id = 0;
        StoredValue stored;
        if (!NT_SUCCESS(store->openKey(*key + "\\" + *below, id)) ||
            !NT_SUCCESS(store->queryValue(id, *value, stored)) || stored.type != REG_DWORD ||
            stored.data.size() != sizeof(ULONG)) {
            return std::nullopt;
        }
        ULONG dword = 0;
        std::memcpy(&dword, stored.data.data(), sizeof(dword));
        return dword;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace bayercam::host
