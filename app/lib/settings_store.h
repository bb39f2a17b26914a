// The settings store as the library finds it before the driver opens it. The driver itself
// goes on silently with its defaults when the store cannot be read or written, so the library
// looks first: it refuses a damaged file or another application's database, and hands the
// driver a private copy of a store it may only read, so that stored values still show.
#pragma once

#include <filesystem>
#include <memory>

#include "app/lib/result.h"

namespace bayercam {

enum class StoreAccess {
    kWritable,  // the file (or, when it does not exist yet, its folder) can be written
    kReadOnly,  // the file can be read but not changed
};

// An error (a failure) for a folder, a file that cannot be read, a damaged store or another
// application's SQLite database; a bad value for an empty path.
Result<StoreAccess> inspectSettingsStore(const std::filesystem::path& path);

// A copy of a store taken whole, in the temporary folder; removed when destroyed.
class StoreSnapshot {
  public:
    static Result<std::unique_ptr<StoreSnapshot>> take(const std::filesystem::path& store);
    ~StoreSnapshot();
    StoreSnapshot(const StoreSnapshot&) = delete;
    StoreSnapshot& operator=(const StoreSnapshot&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    explicit StoreSnapshot(std::filesystem::path path) : path_(std::move(path)) {}
    std::filesystem::path path_;
};

}  // namespace bayercam
