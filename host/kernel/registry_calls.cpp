// The platform's registry calls over the persistent store. A key handle remembers the store it
// was opened in, the key and the access it was opened with.
#include <new>
#include <optional>
#include <span>

#include "host/kernel/handle_table.h"
#include "host/kernel/registry_names.h"
#include "host/kernel/registry_session.h"
#include "host/kernel/registry_store.h"
#include "host/kernel/registry_value_info.h"
#include "host/kernel/verifier.h"

namespace bayercam::host {
namespace {

constexpr ACCESS_MASK kGenericRead = 0x80000000;
constexpr ACCESS_MASK kGenericWrite = 0x40000000;
constexpr ACCESS_MASK kGenericAll = 0x10000000;
constexpr ACCESS_MASK kMaximumAllowed = 0x02000000;

class RegistryKeyObject final : public HandleObject {
  public:
    RegistryKeyObject(std::shared_ptr<RegistryStore> store, RegistryStore::KeyId id,
                      std::string path, ACCESS_MASK access)
        : store(std::move(store)), id(id), path(std::move(path)), access(access) {}
    HandleKind kind() const noexcept override { return HandleKind::RegistryKey; }

    const std::shared_ptr<RegistryStore> store;
    const RegistryStore::KeyId id;
    const std::string path;  // absolute, without the leading backslash
    const ACCESS_MASK access;
};

// Generic rights and MAXIMUM_ALLOWED mapped to the key rights they grant.
ACCESS_MASK grantedAccess(ACCESS_MASK desired) {
    ACCESS_MASK granted = desired & 0x00FFFFFF & ~kMaximumAllowed;
    if (desired & kGenericRead) granted |= KEY_READ;
    if (desired & kGenericWrite) granted |= KEY_WRITE;
    if (desired & (kGenericAll | kMaximumAllowed)) granted |= KEY_ALL_ACCESS;
    return granted;
}

// Runs a call's body so that nothing is thrown across the platform boundary. Registry routines
// may only be called at PASSIVE_LEVEL; a call above it is reported, then carried out.
template <class Body>
NTSTATUS guarded(const char* service, Body&& body) noexcept {
    try {
        if (KIRQL level = KeGetCurrentIrql(); level != PASSIVE_LEVEL) {
            verifier::report(std::string(service) + " called at IRQL " + std::to_string(level) +
                             "; registry routines run at PASSIVE_LEVEL only");
        }
        return body();
    } catch (const std::bad_alloc&) {
        return STATUS_INSUFFICIENT_RESOURCES;
    } catch (...) {
        return STATUS_UNSUCCESSFUL;
    }
}

NTSTATUS keyFromHandle(HANDLE handle, std::shared_ptr<RegistryKeyObject>& key) {
    std::shared_ptr<HandleObject> object = lookupHandle(handle);
    if (!object) return STATUS_INVALID_HANDLE;
    if (object->kind() != HandleKind::RegistryKey) return STATUS_OBJECT_TYPE_MISMATCH;
    key = std::static_pointer_cast<RegistryKeyObject>(object);
    return STATUS_SUCCESS;
}

// The store and absolute key path that object attributes name: relative to RootDirectory
// when one is given, else an absolute path starting with a backslash.
NTSTATUS resolveKeyPath(const OBJECT_ATTRIBUTES* attributes, std::shared_ptr<RegistryStore>& store,
                        std::string& path) {
    if (attributes == nullptr || attributes->ObjectName == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    std::optional<std::string> name = utf8FromUnicodeString(*attributes->ObjectName);
    if (!name) return STATUS_OBJECT_NAME_INVALID;
    if (attributes->RootDirectory != nullptr) {
        std::shared_ptr<RegistryKeyObject> root;
        NTSTATUS status = keyFromHandle(attributes->RootDirectory, root);
        if (!NT_SUCCESS(status)) return status;
        if (!name->empty() && name->front() == '\\') return STATUS_OBJECT_NAME_INVALID;
        store = root->store;
        path = name->empty() ? root->path : root->path + "\\" + *name;
    } else {
        if (name->empty() || name->front() != '\\') return STATUS_OBJECT_NAME_INVALID;
        NTSTATUS status = currentRegistryStore(store);
        if (!NT_SUCCESS(status)) return status;
        path = name->substr(1);
    }
    return isValidKeyPath(path) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_INVALID;
}

NTSTATUS insertKeyHandle(std::shared_ptr<RegistryStore> store, RegistryStore::KeyId id,
                         std::string path, ACCESS_MASK desired, PHANDLE handle) {
    auto key = std::make_shared<RegistryKeyObject>(std::move(store), id, std::move(path),
                                                   grantedAccess(desired));
    *handle = insertHandle(std::move(key));
    return *handle != nullptr ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
}

NTSTATUS valueName(const UNICODE_STRING* name, std::string& text) {
    if (name == nullptr) return STATUS_INVALID_PARAMETER;
    std::optional<std::string> converted = utf8FromUnicodeString(*name);
    if (!converted) return STATUS_OBJECT_NAME_INVALID;
    text = std::move(*converted);
    return STATUS_SUCCESS;
}

}  // namespace
}  // namespace bayercam::host

using namespace bayercam::host;

extern "C" NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType,
                                            ACCESS_MASK DesiredAccess, PHANDLE DevInstRegKey) {
    return guarded("IoOpenDeviceRegistryKey", [&] {
        if (DevInstRegKey == nullptr) return STATUS_INVALID_PARAMETER;
        *DevInstRegKey = nullptr;
        // The driver keeps its settings under its software key; nothing uses the hardware key.
        if (DevInstKeyType != PLUGPLAY_REGKEY_DRIVER) return STATUS_INVALID_PARAMETER;
        std::optional<std::string> path = driverRegistryKeyPath(DeviceObject);
        if (!path) return STATUS_INVALID_DEVICE_REQUEST;
        std::shared_ptr<RegistryStore> store;
        NTSTATUS status = currentRegistryStore(store);
        if (!NT_SUCCESS(status)) return status;
        RegistryStore::KeyId id = 0;
        bool created = false;
        status = store->createKey(*path, true, id, created);
        if (!NT_SUCCESS(status)) return status;
        return insertKeyHandle(std::move(store), id, std::move(*path), DesiredAccess,
                               DevInstRegKey);
    });
}

extern "C" NTSTATUS ZwCreateKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess,
                                POBJECT_ATTRIBUTES ObjectAttributes, ULONG /*TitleIndex*/,
                                PUNICODE_STRING /*Class*/, ULONG CreateOptions,
                                PULONG Disposition) {
    return guarded("ZwCreateKey", [&] {
        if (KeyHandle == nullptr) return STATUS_INVALID_PARAMETER;
        *KeyHandle = nullptr;
        // Volatile keys would have to vanish at the next boot; nothing here needs them.
        if (CreateOptions & REG_OPTION_VOLATILE) return STATUS_NOT_IMPLEMENTED;
        std::shared_ptr<RegistryStore> store;
        std::string path;
        NTSTATUS status = resolveKeyPath(ObjectAttributes, store, path);
        if (!NT_SUCCESS(status)) return status;
        RegistryStore::KeyId id = 0;
        bool created = false;
        status = store->createKey(path, false, id, created);
        if (!NT_SUCCESS(status)) return status;
        if (Disposition) *Disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return insertKeyHandle(std::move(store), id, std::move(path), DesiredAccess, KeyHandle);
    });
}

extern "C" NTSTATUS ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                                    KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                                    PVOID KeyValueInformation, ULONG Length, PULONG ResultLength) {
    return guarded("ZwQueryValueKey", [&] {
        if (ResultLength == nullptr) return STATUS_INVALID_PARAMETER;
        *ResultLength = 0;
        std::shared_ptr<RegistryKeyObject> key;
        NTSTATUS status = keyFromHandle(KeyHandle, key);
        if (!NT_SUCCESS(status)) return status;
        if (!(key->access & KEY_QUERY_VALUE)) return STATUS_ACCESS_DENIED;
        std::string name;
        status = valueName(ValueName, name);
        if (!NT_SUCCESS(status)) return status;
        StoredValue value;
        status = key->store->queryValue(key->id, name, value);
        if (!NT_SUCCESS(status)) return status;
        return fillValueInformation(value, KeyValueInformationClass, KeyValueInformation, Length,
                                    ResultLength);
    });
}

extern "C" NTSTATUS ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG /*TitleIndex*/,
                                  ULONG Type, PVOID Data, ULONG DataSize) {
    return guarded("ZwSetValueKey", [&] {
        std::shared_ptr<RegistryKeyObject> key;
        NTSTATUS status = keyFromHandle(KeyHandle, key);
        if (!NT_SUCCESS(status)) return status;
        if (!(key->access & KEY_SET_VALUE)) return STATUS_ACCESS_DENIED;
        if (Data == nullptr && DataSize != 0) return STATUS_INVALID_PARAMETER;
        std::string name;
        status = valueName(ValueName, name);
        if (!NT_SUCCESS(status)) return status;
        std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(Data), DataSize);
        return key->store->setValue(key->id, name, Type, bytes);
    });
}
