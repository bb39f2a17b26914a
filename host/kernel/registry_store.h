// The persistent registry: keys and values in one SQLite database file that several processes
// may share. Key paths and value names compare case-insensitively (ASCII letters), as on the
// platform. Each change is one transaction, so a crash leaves every value either old or new.
// Failures come back as the status a registry call reports: STATUS_REGISTRY_CORRUPT for a
// damaged file, STATUS_REGISTRY_IO_FAILED or STATUS_ACCESS_DENIED when it cannot be used.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel.h"

struct sqlite3;

namespace bayercam::host {

struct StoredValue {
    std::string name;  // as first written
    ULONG type = REG_NONE;
    std::vector<std::uint8_t> data;
};

class RegistryStore {
  public:
    using KeyId = std::int64_t;

    // Opens or creates the database (and its folder) and checks it is an intact registry.
    static NTSTATUS open(const std::filesystem::path& file, std::shared_ptr<RegistryStore>& store);

    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // Creates the key or opens it when it exists. Without withAncestors a missing parent key
    // gives STATUS_OBJECT_NAME_NOT_FOUND; with it every missing ancestor is created too.
    NTSTATUS createKey(std::string_view path, bool withAncestors, KeyId& id, bool& created);

    // STATUS_OBJECT_NAME_NOT_FOUND when the key does not exist.
    NTSTATUS openKey(std::string_view path, KeyId& id);

    NTSTATUS setValue(KeyId key, std::string_view name, ULONG type,
                      std::span<const std::uint8_t> data);

    // STATUS_OBJECT_NAME_NOT_FOUND when the key has no such value.
    NTSTATUS queryValue(KeyId key, std::string_view name, StoredValue& value);

  private:
    explicit RegistryStore(sqlite3* db) : db_(db) {}
    NTSTATUS configure();
    NTSTATUS enableWriteAheadLog();
    NTSTATUS createKeyLocked(std::string_view path, bool withAncestors, KeyId& id, bool& created);
    NTSTATUS insertKey(std::string_view path, bool& inserted);
    NTSTATUS keyId(std::string_view path, KeyId& id);
    template <class Body>
    NTSTATUS inWriteTransaction(Body&& body);
    NTSTATUS execute(const char* sql);
    // The first column of the first row a statement gives.
    NTSTATUS firstText(const char* sql, std::string& text);
    NTSTATUS failure(int rc) const;

    std::mutex lock_;
    sqlite3* db_;  // guarded by lock_ (the connection is opened without SQLite's own mutex)
};

}  // namespace bayercam::host
