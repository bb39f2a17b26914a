// An output file that appears whole or not at all where the file system allows it: a regular
// file (or one a symbolic link names) is written under a temporary name beside it and renamed
// over it when complete. "-" (standard output), a FIFO, a device or a socket is written through
// as a stream: renaming over one would replace it with a plain file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>

namespace bayercam::app {

// Where an output name leads: the file to replace, or a stream to write through.
struct OutputPath {
    std::filesystem::path path;  // links followed; "-" for standard output
    bool stream = false;
};

// Throws a failure ToolError for a folder, or for links that lead nowhere in 40 steps.
OutputPath resolveOutputPath(const std::filesystem::path& target);

// True when the output is this process's standard output, so reports must go elsewhere.
bool writesToStandardOutput(const OutputPath& output);

// Throws a usage ToolError when output names the same file as input (through links too).
void refuseInputAsOutput(const std::filesystem::path& input, const std::filesystem::path& output);

// Whether commit() waits for a file's data to reach the disk. A file that replaces another
// should; the many new files of a capture leave that to the system, or writing them would be
// slower than the camera.
enum class Durability { kOnDisk, kWritten };

class OutputFile {
  public:
    // Opens the stream, or creates the temporary file. Throws a failure ToolError naming the
    // target when it cannot.
    explicit OutputFile(const std::filesystem::path& target,
                        Durability durability = Durability::kOnDisk);
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile();

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* stream() const { return stream_; }
    bool isStream() const { return output_.stream; }
    void write(std::span<const std::uint8_t> bytes);

    // A file: flushes the data to disk and renames it over the target, leaving the target as
    // it was when that fails. A stream: flushes it. Throws a failure ToolError.
    void commit();

  private:
    void openStream();
    void createTemporary();
    [[noreturn]] void fail(int error) const;

    std::filesystem::path target_;
    OutputPath output_;
    Durability durability_;
    std::filesystem::path temporary_;
    std::FILE* stream_ = nullptr;
    bool committed_ = false;
};

}  // namespace bayercam::app
