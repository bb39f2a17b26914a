#include "app/tool/raw_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "app/tool/tool_error.h"

namespace bayercam::app {

namespace {

constexpr std::uintmax_t kSensorFrameBytes = 1360 * 1024;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

ToolError readError(const std::filesystem::path& path, int error) {
    return failure("cannot read " + inQuotes(path.string()) + ": " + std::strerror(error));
}

// A size the file would fit: the same width with another height, or the full sensor frame.
std::string sizeHint(std::uintmax_t actual, FrameSize size) {
    const std::uintmax_t rows = actual / static_cast<std::uintmax_t>(size.width);
    if (actual % static_cast<std::uintmax_t>(size.width) == 0 && rows >= kMinFrameSide &&
        rows <= kMaxFrameSide) {
        return "--size " + FrameSize{size.width, static_cast<std::int32_t>(rows)}.text() +
               " would fit it";
    }
    if (actual == kSensorFrameBytes)
        return "it is the size of a full sensor frame, --size 1360x1024";
    return "check --size";
}

ToolError wrongSize(const std::filesystem::path& path, FrameSize size,
                    std::optional<std::uintmax_t> actual) {
    const std::string found =
        actual ? std::to_string(*actual) : "more than " + std::to_string(size.pixels());
    return failure(inQuotes(path.string()) + " holds " + found + " bytes, but a " + size.text() +
                   " 8-bit Bayer frame is " + std::to_string(size.pixels()) +
                   " bytes (one byte per sample); " +
                   (actual ? sizeHint(*actual, size) : "check --size"));
}

}  // namespace

std::vector<std::uint8_t> readRawFrame(const std::filesystem::path& path, FrameSize size) {
    std::error_code status;
    if (std::filesystem::is_directory(path, status)) throw readError(path, EISDIR);
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) throw readError(path, errno);
    // A regular file of the wrong length is refused before a frame's worth of memory is taken:
    // a mistyped --size can ask for hundreds of megabytes.
    if (std::filesystem::is_regular_file(path, status)) {
        const std::uintmax_t length = std::filesystem::file_size(path, status);
        if (!status && length != size.pixels()) throw wrongSize(path, size, length);
    }

    // One byte more than expected tells a longer file from an exact one without a seek.
    std::vector<std::uint8_t> samples(size.pixels() + 1);
    const std::size_t got = std::fread(samples.data(), 1, samples.size(), file.get());
    if (std::ferror(file.get())) throw readError(path, errno);
    // Only an input whose length was not known above (a pipe) or that changed meanwhile gets here.
    if (got != size.pixels()) {
        throw wrongSize(path, size, got > size.pixels() ? std::nullopt : std::optional(got));
    }
    samples.pop_back();
    return samples;
}

}  // namespace bayercam::app
