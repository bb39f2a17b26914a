#include "app/tool/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/tool/tool_error.h"

namespace bayercam::app {

namespace {

// The permissions a file created with open() would get: 0666 less the process's umask.
mode_t defaultFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {
    const std::filesystem::path folder =
        target_.has_parent_path() ? target_.parent_path() : std::filesystem::path(".");
    // A hidden name beside the target, unique to this process.
    std::string hidden(1, '.');
    hidden.append(target_.filename().string()).append(".XXXXXX");
    std::string pattern = (folder / hidden).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        throw failure("cannot write '" + target_.string() + "': cannot create a file in '" +
                      folder.string() + "': " + std::strerror(errno));
    }
    temporary_ = pattern;
    ::fchmod(fd, defaultFileMode());
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const int error = errno;
        ::close(fd);
        std::filesystem::remove(temporary_);
        fail(error);
    }
}

AtomicFile::~AtomicFile() {
    if (stream_ != nullptr) std::fclose(stream_);
    if (!committed_ && !temporary_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
}

void AtomicFile::write(std::span<const std::uint8_t> bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) fail(errno);
}

void AtomicFile::commit() {
    if (std::fflush(stream_) != 0 || ::fsync(::fileno(stream_)) != 0) fail(errno);
    const int closed = std::fclose(stream_);
    stream_ = nullptr;
    if (closed != 0) fail(errno);
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) fail(errno);
    committed_ = true;
}

void AtomicFile::fail(int error) const {
    throw failure("cannot write '" + target_.string() + "': " + std::strerror(error));
}

}  // namespace bayercam::app
