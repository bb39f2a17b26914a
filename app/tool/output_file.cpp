#include "app/tool/output_file.h"

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

// As the kernel gives up on a chain of links.
constexpr int kMaxLinkSteps = 40;

// The permissions a file created with open() would get: 0666 less the process's umask.
mode_t defaultFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

OutputPath resolveOutputPath(const std::filesystem::path& target) {
    if (target == "-") return {target, true};
    struct stat status{};
    if (::stat(target.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            throw failure("cannot write " + inQuotes(target.string()) + ": it is a folder");
        }
        if (!S_ISREG(status.st_mode)) return {target, true};
    }
    std::filesystem::path path = target;
    std::error_code error;
    for (int step = 0; std::filesystem::is_symlink(path, error); ++step) {
        if (step == kMaxLinkSteps) {
            throw failure("cannot write " + inQuotes(target.string()) + ": " +
                          std::strerror(ELOOP));
        }
        const std::filesystem::path link = std::filesystem::read_symlink(path, error);
        path = link.is_absolute() ? link : path.parent_path() / link;
    }
    return {path, false};
}

bool writesToStandardOutput(const OutputPath& output) {
    if (output.path == "-") return true;
    struct stat file{};
    struct stat standardOutput{};
    return output.stream && ::stat(output.path.c_str(), &file) == 0 &&
           ::fstat(STDOUT_FILENO, &standardOutput) == 0 && sameFile(file, standardOutput);
}

void refuseInputAsOutput(const std::filesystem::path& input, const std::filesystem::path& output) {
    struct stat in{};
    struct stat out{};
    if (output != "-" && ::stat(input.c_str(), &in) == 0 && ::stat(output.c_str(), &out) == 0 &&
        sameFile(in, out)) {
        throw usageError("the output " + inQuotes(output.string()) + " is the input " +
                         inQuotes(input.string()) + "; write to another file");
    }
}

OutputFile::OutputFile(const std::filesystem::path& target, Durability durability)
    : target_(target), output_(resolveOutputPath(target)), durability_(durability) {
    output_.stream ? openStream() : createTemporary();
}

void OutputFile::openStream() {
    const int fd = output_.path == "-" ? ::dup(STDOUT_FILENO)
                                       : ::open(output_.path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) fail(errno);
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const int error = errno;
        ::close(fd);
        fail(error);
    }
}

void OutputFile::createTemporary() {
    const std::filesystem::path& path = output_.path;
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    // A hidden name beside the target, unique to this process.
    std::string hidden(1, '.');
    hidden.append(path.filename().string()).append(".XXXXXX");
    std::string pattern = (folder / hidden).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        throw failure("cannot write " + inQuotes(target_.string()) + ": cannot create a file in " +
                      inQuotes(folder.string()) + ": " + std::strerror(errno));
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

OutputFile::~OutputFile() {
    if (stream_ != nullptr) std::fclose(stream_);
    if (!committed_ && !temporary_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
}

void OutputFile::write(std::span<const std::uint8_t> bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) fail(errno);
}

void OutputFile::commit() {
    if (std::fflush(stream_) != 0) fail(errno);
    if (output_.stream) return;
    if (durability_ == Durability::kOnDisk && ::fsync(::fileno(stream_)) != 0) fail(errno);
    const int closed = std::fclose(stream_);
    stream_ = nullptr;
    if (closed != 0) fail(errno);
    if (std::rename(temporary_.c_str(), output_.path.c_str()) != 0) fail(errno);
    committed_ = true;
}

void OutputFile::fail(int error) const {
    throw failure("cannot write " + inQuotes(target_.string()) + ": " + std::strerror(error));
}

}  // namespace bayercam::app
