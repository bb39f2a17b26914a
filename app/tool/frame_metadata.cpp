#include "app/tool/frame_metadata.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "app/tool/tool_error.h"

namespace bayercam::app {

namespace {

// UTC to the millisecond, e.g. 2025-03-01T12:34:56.789Z.
std::string isoTime(std::chrono::system_clock::time_point time) {
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = std::time_t(milliseconds / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof(text) - length, ".%03dZ", int(milliseconds % 1000));
    return text;
}

std::string regionValues(const Region& region) {
    return std::to_string(region.x) + "," + std::to_string(region.y) + "," +
           std::to_string(region.width) + "," + std::to_string(region.height);
}

}  // namespace

std::string FrameMetadata::jsonLine() const {
    const nlohmann::ordered_json line = {
        {"file", file},
        {"pictureNumber", pictureNumber},
        {"presentationTime", double(presentationTime) / 1e7},
        {"wallClock", isoTime(wallClock)},
        {"exposure", exposure},
        {"globalGain", globalGain},
        {"region",
         {{"x", region.x}, {"y", region.y}, {"width", region.width}, {"height", region.height}}},
    };
    return line.dump();
}

ImageText FrameMetadata::pngText() const {
    char seconds[32];
    std::snprintf(seconds, sizeof(seconds), "%.7f", double(presentationTime) / 1e7);
    return {{"PictureNumber", std::to_string(pictureNumber)},
            {"PresentationTime", seconds},
            {"WallClock", isoTime(wallClock)},
            {"Exposure", std::to_string(exposure)},
            {"GlobalGain", std::to_string(globalGain)},
            {"Region", regionValues(region)}};
}

MetadataLog::MetadataLog(const std::string& name)
    : name_(name), file_(name == "-" ? nullptr : std::make_unique<OutputFile>(name)) {}

void MetadataLog::write(const std::string& line) {
    std::FILE* stream = file_ ? file_->stream() : stderr;
    const std::string whole = line + "\n";
    // One call a line, so that lines on standard error stay whole among other output.
    if (std::fwrite(whole.data(), 1, whole.size(), stream) != whole.size() ||
        std::fflush(stream) != 0) {
        throw failure("cannot write " + inQuotes(name_) + ": " + std::strerror(errno));
    }
}

void MetadataLog::finish() {
    if (file_) file_->commit();
}

}  // namespace bayercam::app
