#include "host/kernel/registry_store.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "host/kernel/registry_names.h"

namespace bayercam::host {
namespace {

// Writers from other processes hold the database for a few milliseconds each; waiting this
// long for them only fails when one of them is stuck.
constexpr int kBusyTimeoutMs = 5000;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY,"
    "  path TEXT NOT NULL UNIQUE COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS key_values("
    "  key_id INTEGER NOT NULL REFERENCES keys(id),"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY(key_id, name)) WITHOUT ROWID;";

// One prepared statement, finalized when it goes out of scope.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    int prepared() const { return rc_; }
    sqlite3_stmt* get() const { return stmt_; }
    void bind(int index, std::string_view text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    void bind(int index, std::int64_t number) { sqlite3_bind_int64(stmt_, index, number); }
    void bind(int index, std::span<const std::uint8_t> bytes) {
        // A null pointer would bind SQL NULL; an empty value is an empty blob.
        static const std::uint8_t kNothing = 0;
        sqlite3_bind_blob(stmt_, index, bytes.empty() ? &kNothing : bytes.data(),
                          static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    }
    int step() { return sqlite3_step(stmt_); }

  private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_;
};

NTSTATUS statusFromErrno(int error) {
    return error == EACCES || error == EPERM || error == EROFS ? STATUS_ACCESS_DENIED
                                                               : STATUS_REGISTRY_IO_FAILED;
}

NTSTATUS statusFromSqlite(int rc, int systemErrno) {
    switch (rc & 0xFF) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return STATUS_SUCCESS;
        case SQLITE_NOMEM:
            return STATUS_INSUFFICIENT_RESOURCES;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_FORMAT:
        case SQLITE_SCHEMA:
            return STATUS_REGISTRY_CORRUPT;
        case SQLITE_PERM:
        case SQLITE_READONLY:
        case SQLITE_AUTH:
            return STATUS_ACCESS_DENIED;
        case SQLITE_CANTOPEN:
            return statusFromErrno(systemErrno);
        case SQLITE_TOOBIG:
            return STATUS_INSUFFICIENT_RESOURCES;
        default:  // I/O errors, a full disk, a lock held beyond the busy time-out
            return STATUS_REGISTRY_IO_FAILED;
    }
}

}  // namespace

template <class Body>
NTSTATUS RegistryStore::inWriteTransaction(Body&& body) {
    // IMMEDIATE takes the write lock at once, waiting for other writers within the busy
    // time-out; a transaction that began as a reader could not wait to become a writer.
    NTSTATUS status = execute("BEGIN IMMEDIATE");
    if (!NT_SUCCESS(status)) return status;
    status = body();
    if (NT_SUCCESS(status)) status = execute("COMMIT");
    if (!NT_SUCCESS(status)) execute("ROLLBACK");
    return status;
}

NTSTATUS RegistryStore::open(const std::filesystem::path& file,
                             std::shared_ptr<RegistryStore>& store) {
    std::error_code error;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), error);
    if (error) return statusFromErrno(error.value());

    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(file.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        NTSTATUS status = statusFromSqlite(rc, db ? sqlite3_system_errno(db) : 0);
        sqlite3_close(db);
        return status;
    }
    std::shared_ptr<RegistryStore> opened(new RegistryStore(db));
    NTSTATUS status = opened->configure();
    if (NT_SUCCESS(status)) store = std::move(opened);
    return status;
}

RegistryStore::~RegistryStore() { sqlite3_close(db_); }

NTSTATUS RegistryStore::configure() {
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // Write-ahead logging lets readers and one writer of other processes work at once; NORMAL
    // synchronisation keeps every commit atomic and durable against a crash of the process.
    NTSTATUS status = enableWriteAheadLog();
    if (!NT_SUCCESS(status)) return status;
    status = execute("PRAGMA synchronous=NORMAL");
    if (!NT_SUCCESS(status)) return status;
    status = inWriteTransaction([&] { return execute(kSchema); });
    if (!NT_SUCCESS(status)) return status;

    std::string verdict;
    status = firstText("PRAGMA quick_check", verdict);
    if (!NT_SUCCESS(status)) return status;
    return verdict == "ok" ? STATUS_SUCCESS : STATUS_REGISTRY_CORRUPT;
}

NTSTATUS RegistryStore::enableWriteAheadLog() {
    // Switching a new file to the log needs it to itself for a moment, and SQLite does not wait
    // for that by itself; other processes opening the file at the same time hold it briefly.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (;;) {
        Statement journal(db_, "PRAGMA journal_mode=WAL");
        int rc = journal.prepared() == SQLITE_OK ? journal.step() : journal.prepared();
        if (rc == SQLITE_ROW) {
            auto mode = reinterpret_cast<const char*>(sqlite3_column_text(journal.get(), 0));
            return mode && std::string_view(mode) == "wal" ? STATUS_SUCCESS
                                                           : STATUS_REGISTRY_IO_FAILED;
        }
        if (rc != SQLITE_BUSY || std::chrono::steady_clock::now() > deadline) return failure(rc);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

NTSTATUS RegistryStore::firstText(const char* sql, std::string& text) {
    Statement statement(db_, sql);
    if (statement.prepared() != SQLITE_OK) return failure(statement.prepared());
    int rc = statement.step();
    if (rc != SQLITE_ROW) return failure(rc);
    auto first = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
    text = first ? first : "";
    return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::createKey(std::string_view path, bool withAncestors, KeyId& id,
                                  bool& created) {
    std::lock_guard guard(lock_);
    return inWriteTransaction([&] { return createKeyLocked(path, withAncestors, id, created); });
}

NTSTATUS RegistryStore::createKeyLocked(std::string_view path, bool withAncestors, KeyId& id,
                                        bool& created) {
    std::string_view parent = parentKeyPath(path);
    NTSTATUS status = STATUS_SUCCESS;
    if (!parent.empty()) {
        KeyId parentId = 0;
        bool parentCreated = false;
        status = withAncestors ? createKeyLocked(parent, true, parentId, parentCreated)
                               : keyId(parent, parentId);
        if (!NT_SUCCESS(status)) return status;
    }
    status = insertKey(path, created);
    if (!NT_SUCCESS(status)) return status;
    return keyId(path, id);
}

NTSTATUS RegistryStore::insertKey(std::string_view path, bool& inserted) {
    Statement insert(db_, "INSERT INTO keys(path) VALUES(?1) ON CONFLICT(path) DO NOTHING");
    if (insert.prepared() != SQLITE_OK) return failure(insert.prepared());
    insert.bind(1, path);
    int rc = insert.step();
    if (rc != SQLITE_DONE) return failure(rc);
    inserted = sqlite3_changes(db_) > 0;
    return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::keyId(std::string_view path, KeyId& id) {
    Statement select(db_, "SELECT id FROM keys WHERE path = ?1");
    if (select.prepared() != SQLITE_OK) return failure(select.prepared());
    select.bind(1, path);
    int rc = select.step();
    if (rc == SQLITE_DONE) return STATUS_OBJECT_NAME_NOT_FOUND;
    if (rc != SQLITE_ROW) return failure(rc);
    id = sqlite3_column_int64(select.get(), 0);
    return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::openKey(std::string_view path, KeyId& id) {
    std::lock_guard guard(lock_);
    return keyId(path, id);
}

NTSTATUS RegistryStore::setValue(KeyId key, std::string_view name, ULONG type,
                                 std::span<const std::uint8_t> data) {
    std::lock_guard guard(lock_);
    if (data.size() >= static_cast<std::size_t>(sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, -1))) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    // A value keeps the spelling of its name it was created with, as on the platform.
    Statement upsert(db_,
                     "INSERT INTO key_values(key_id, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                     "ON CONFLICT(key_id, name) DO UPDATE SET type = excluded.type, "
                     "data = excluded.data");
    if (upsert.prepared() != SQLITE_OK) return failure(upsert.prepared());
    upsert.bind(1, key);
    upsert.bind(2, name);
    upsert.bind(3, static_cast<std::int64_t>(type));
    upsert.bind(4, data);
    return inWriteTransaction([&] {
        int rc = upsert.step();
        return rc == SQLITE_DONE ? STATUS_SUCCESS : failure(rc);
    });
}

NTSTATUS RegistryStore::queryValue(KeyId key, std::string_view name, StoredValue& value) {
    std::lock_guard guard(lock_);
    Statement select(db_,
                     "SELECT name, type, data FROM key_values WHERE key_id = ?1 AND name = ?2");
    if (select.prepared() != SQLITE_OK) return failure(select.prepared());
    select.bind(1, key);
    select.bind(2, name);
    int rc = select.step();
    if (rc == SQLITE_DONE) return STATUS_OBJECT_NAME_NOT_FOUND;
    if (rc != SQLITE_ROW) return failure(rc);
    auto storedName = reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0));
    value.name.assign(storedName ? storedName : "", sqlite3_column_bytes(select.get(), 0));
    value.type = static_cast<ULONG>(sqlite3_column_int64(select.get(), 1));
    auto bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(select.get(), 2));
    value.data.assign(bytes, bytes + sqlite3_column_bytes(select.get(), 2));
    return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::execute(const char* sql) {
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? STATUS_SUCCESS : failure(rc);
}

NTSTATUS RegistryStore::failure(int rc) const {
    return statusFromSqlite(rc, sqlite3_system_errno(db_));
}

}  // namespace bayercam::host
