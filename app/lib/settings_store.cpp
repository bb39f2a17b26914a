#include "app/lib/settings_store.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace bayercam {

namespace {

constexpr std::string_view kSqliteHeader{"SQLite format 3\0", 16};

Error unusable(const std::filesystem::path& path, const std::string& why) {
    return Error{"cannot use the settings store " + path.string() + ": " + why};
}

Error damaged(const std::filesystem::path& path, const std::string& why) {
    return Error{"the settings store " + path.string() + " is damaged (" + why +
                 "); move it aside and a new one is made, or choose another file"};
}

struct Connection {
    sqlite3* db = nullptr;
    ~Connection() { sqlite3_close(db); }
};

// Checks an existing SQLite file: intact, and holding no tables of another application.
Status checkDatabase(const std::filesystem::path& path) {
    Connection connection;
    if (sqlite3_open_v2(path.c_str(), &connection.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return unusable(path, sqlite3_errmsg(connection.db));
    sqlite3_busy_timeout(connection.db, 5000);
    std::string foreign;
    std::string verdict;
    auto collect = [](void* into, int, char** values, char**) {
        *static_cast<std::string*>(into) = values[0] != nullptr ? values[0] : "";
        return 0;
    };
    // The registry's own tables are these two; a database with any other is not ours.
    const char* tables =
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT IN ('keys', "
        "'key_values') LIMIT 1";
    if (sqlite3_exec(connection.db, tables, collect, &foreign, nullptr) != SQLITE_OK ||
        sqlite3_exec(connection.db, "PRAGMA quick_check", collect, &verdict, nullptr) !=
            SQLITE_OK) {
        return damaged(path, sqlite3_errmsg(connection.db));
    }
    if (!foreign.empty()) {
        return Error{"the settings store " + path.string() +
                     " is another application's database (it has a table '" + foreign +
                     "'); choose another file"};
    }
    if (verdict != "ok") return damaged(path, verdict);
    return Done{};
}

}  // namespace

Result<StoreAccess> inspectSettingsStore(const std::filesystem::path& path) {
    if (path.empty()) return Error{"the settings store path is empty", Error::Kind::kBadValue};
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return unusable(path, "it is a folder");
    if (!std::filesystem::exists(path, error)) {
        std::filesystem::create_directories(folder, error);
        if (error || ::access(folder.c_str(), W_OK) != 0) {
            return unusable(path, "cannot create it in " + folder.string() + ": " +
                                      std::strerror(error ? error.value() : errno));
        }
        return StoreAccess::kWritable;
    }
    std::ifstream file(path, std::ios::binary);
    std::string header(kSqliteHeader.size(), '\0');
    if (!file) return unusable(path, std::strerror(errno));
    const bool empty = !file.read(header.data(), std::streamsize(header.size())) &&
                       file.gcount() == 0;
    if (!empty) {
        if (header != kSqliteHeader) return damaged(path, "not a SQLite database");
        if (Status checked = checkDatabase(path); !checked) return checked.error();
    }
    // SQLite writes its journal beside the file.
    const bool writable = ::access(path.c_str(), W_OK) == 0 && ::access(folder.c_str(), W_OK) == 0;
    return writable ? StoreAccess::kWritable : StoreAccess::kReadOnly;
}

Result<std::unique_ptr<StoreSnapshot>> StoreSnapshot::take(const std::filesystem::path& store) {
    std::string pattern = (std::filesystem::temp_directory_path() / "bayercam-store-XXXXXX");
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return unusable(store, std::string("no room for a copy: ") + std::strerror(errno));
    ::close(fd);
    std::unique_ptr<StoreSnapshot> snapshot(new StoreSnapshot(pattern));
    Connection from;
    Connection to;
    if (sqlite3_open_v2(store.c_str(), &from.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_open(pattern.c_str(), &to.db) != SQLITE_OK) {
        return unusable(store, "cannot copy it to read it");
    }
    sqlite3_backup* backup = sqlite3_backup_init(to.db, "main", from.db, "main");
    const int copied = backup != nullptr ? sqlite3_backup_step(backup, -1) : SQLITE_ERROR;
    sqlite3_backup_finish(backup);
    if (copied != SQLITE_DONE) return unusable(store, "cannot copy it to read it");
    return snapshot;
}

StoreSnapshot::~StoreSnapshot() {
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::filesystem::remove(path_.string() + suffix, ignored);
    }
}

}  // namespace bayercam
