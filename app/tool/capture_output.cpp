#include "app/tool/capture_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "app/tool/name_matching.h"
#include "app/tool/tool_error.h"

namespace bayercam::app {

namespace {

// A continuous capture's names are this wide: days of frames at 30 a second.
constexpr int kOpenEndedDigits = 8;
constexpr int kFewestDigits = 4;

CaptureOutput::Kind kindOf(const std::string& name) {
    if (name == "-") return CaptureOutput::Kind::kStream;
    struct stat status{};
    if (::stat(name.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) return CaptureOutput::Kind::kFolder;
        return S_ISREG(status.st_mode) ? CaptureOutput::Kind::kFile
                                       : CaptureOutput::Kind::kStream;
    }
    const std::string extension = std::filesystem::path(name).extension().string();
    return equalsIgnoringCase(extension, ".png") || equalsIgnoringCase(extension, ".bgra")
               ? CaptureOutput::Kind::kFile
               : CaptureOutput::Kind::kFolder;
}

}  // namespace

CaptureOutput::CaptureOutput(const std::string& name, const std::optional<std::string>& format)
    : name_(name), kind_(kindOf(name)) {
    if (format || kind_ == Kind::kFile) {
        format_ = chooseOutputFormat(name, format);
    } else {
        format_ = kind_ == Kind::kStream ? OutputFormat::kBgra : OutputFormat::kPng;
    }
}

bool CaptureOutput::carriesStandardOutput() const {
    return kind_ == Kind::kStream && writesToStandardOutput(resolveOutputPath(name_));
}

void CaptureOutput::open(std::uint64_t frames) {
    if (kind_ == Kind::kStream) {
        stream_ = std::make_unique<OutputFile>(name_);
        return;
    }
    const std::filesystem::path path(name_);
    const std::filesystem::path folder =
        kind_ == Kind::kFolder ? path : (path.has_parent_path() ? path.parent_path() : ".");
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || ::access(folder.c_str(), W_OK) != 0) {
        throw failure("cannot write into the output folder " + folder.string());
    }
    const int needed = frames == 0 ? kOpenEndedDigits : int(std::to_string(frames).size());
    digits_ = std::max(kFewestDigits, needed);
}

std::string CaptureOutput::frameName(std::uint64_t index) const {
    if (kind_ != Kind::kFolder) return name_;
    char name[48];
    std::snprintf(name, sizeof(name), "frame-%0*llu.%s", digits_,
                  static_cast<unsigned long long>(index), std::string(formatName(format_)).c_str());
    return name;
}

void CaptureOutput::write(const FrameJob& job, const std::string& name) {
    if (stream_) {
        writeImage(stream_->stream(), format_, job.image, job.text, name_);
        stream_->commit();
        return;
    }
    const std::filesystem::path path =
        kind_ == Kind::kFolder ? std::filesystem::path(name_) / name : std::filesystem::path(name_);
    writeImageFile(path, format_, job.image, job.text, Durability::kWritten);
}

void CaptureOutput::finish() {
    if (stream_) stream_->commit();
}

}  // namespace bayercam::app
