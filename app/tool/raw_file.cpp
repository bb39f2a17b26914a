#include "app/tool/raw_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/tool/tool_error.h"

namespace bayercam::app {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

ToolError readError(const std::filesystem::path& path, int error) {
    return failure("cannot read " + quoted(path) + ": " + std::strerror(error));
}

}  // namespace

std::vector<std::uint8_t> readRawFrame(const std::filesystem::path& path, FrameSize size) {
    std::error_code status;
    if (std::filesystem::is_directory(path, status)) throw readError(path, EISDIR);
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) throw readError(path, errno);

    // One byte more than expected tells a longer file from an exact one without a seek.
    std::vector<std::uint8_t> samples(size.pixels() + 1);
    const std::size_t got = std::fread(samples.data(), 1, samples.size(), file.get());
    if (std::ferror(file.get())) throw readError(path, errno);
    if (got != size.pixels()) {
        std::string found = std::to_string(got);
        if (got > size.pixels()) {
            const std::uintmax_t actual = std::filesystem::file_size(path, status);
            found = status ? "more than " + std::to_string(size.pixels()) : std::to_string(actual);
        }
        throw failure(quoted(path) + " holds " + found + " bytes, but a " + size.text() +
                      " 8-bit Bayer frame is " + std::to_string(size.pixels()) +
                      " bytes (one byte per sample); check --size");
    }
    samples.pop_back();
    return samples;
}

}  // namespace bayercam::app
