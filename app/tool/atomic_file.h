// An output file that appears whole or not at all: written under a temporary name in the
// target's folder and renamed over the target only when complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>

namespace bayercam::app {

class AtomicFile {
  public:
    // Creates the temporary file. Throws a failure ToolError naming the target when the folder
    // does not exist or cannot be written.
    explicit AtomicFile(std::filesystem::path target);
    // Removes the temporary file unless commit() succeeded.
    ~AtomicFile();

    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    std::FILE* stream() const { return stream_; }
    void write(std::span<const std::uint8_t> bytes);

    // Flushes the data to disk and renames it over the target; throws a failure ToolError
    // when any of that fails, leaving the target as it was.
    void commit();

  private:
    [[noreturn]] void fail(int error) const;

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::FILE* stream_ = nullptr;
    bool committed_ = false;
};

}  // namespace bayercam::app
