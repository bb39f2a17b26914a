#include "app/tool/capture_command.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "app/tool/capture_statistics.h"
#include "app/tool/frame_writer.h"
#include "app/tool/image_writers.h"
#include "app/tool/number_parse.h"
#include "app/tool/property_arguments.h"

namespace bayercam::app {

namespace {

// A frame should come within the timeout the driver itself waits for one.
constexpr std::chrono::milliseconds kFrameWait{3500};
// Give up after this many reads in a row that brought nothing.
constexpr int kMaxFailuresInARow = 5;
// Frames that may wait for the writer: about a third of a second at 30 frames a second.
constexpr std::size_t kWriterQueue = 10;

Region parseRegionOption(const std::string& text) {
    std::int64_t parts[4] = {};
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = i < 3 ? text.find(',', start) : text.size();
        const std::optional<std::int64_t> value =
            comma == std::string::npos
                ? std::nullopt
                : parseInteger(std::string_view(text).substr(start, comma - start));
        if (!value || *value < 0 || *value > 0x7FFFFFFF || (i == 3 && comma != text.size())) {
            throw usageError("bad --roi " + inQuotes(text) +
                             ": expected X,Y,WIDTH,HEIGHT, e.g. 0,0,640,480");
        }
        parts[i] = *value;
        start = comma + 1;
    }
    return Region{std::int32_t(parts[0]), std::int32_t(parts[1]), std::int32_t(parts[2]),
                  std::int32_t(parts[3])};
}

// The folder must take files before the camera starts, not after the first frame.
void prepareFolder(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || access(folder.c_str(), W_OK) != 0) {
        throw failure("cannot write into the output folder " + folder.string());
    }
}

void applySettings(Camera& camera, const std::vector<std::string>& assignments) {
    for (const std::string& text : assignments) {
        const PropertyWord word = parseAssignment(text);
        if (word.kind == PropertyWord::Kind::kRegister) {
            take(camera.writeRegister(word.index, std::uint32_t(*word.value)));
        } else if (word.kind == PropertyWord::Kind::kProperty) {
            take(camera.set(word.name, *word.value));
        }
    }
}

std::string frameName(int index, const std::string& format) {
    char name[32];
    std::snprintf(name, sizeof(name), "frame-%04d.%s", index, format.c_str());
    return name;
}

std::string frameLine(const std::string& name, const Frame& frame,
                      const CaptureStatistics& statistics) {
    char interval[32] = "-";
    if (statistics.lastInterval()) {
        std::snprintf(interval, sizeof(interval), "%.2f ms", *statistics.lastInterval());
    }
    char line[192];
    std::snprintf(line, sizeof(line), "%s picture %lld time %.4f s interval %s fps %.1f",
                  name.c_str(), static_cast<long long>(frame.pictureNumber),
                  double(frame.presentationTime) / 1e7, interval, statistics.framesPerSecond());
    return line;
}

std::string progressLine(const CaptureStatistics& statistics, int total) {
    char line[96];
    std::snprintf(line, sizeof(line), "\rframes %llu/%d  %.1f fps  lost %llu   ",
                  static_cast<unsigned long long>(statistics.frames()), total,
                  statistics.framesPerSecond(), static_cast<unsigned long long>(statistics.lost()));
    return line;
}

}  // namespace

CaptureCommand::CaptureCommand(CLI::App& tool, const CameraChoice& choice)
    : command_(tool.add_subcommand("capture", "Stream from the camera and write the frames")),
      choice_(choice) {
    command_->add_option("-n,--frames", frames_, "Frames to write")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    command_->add_option("-o,--output", folder_, "Folder for the frames (created when missing)")
        ->capture_default_str();
    command_->add_option("--format", format_, "png (RGB, upright) or bgra (raw rows, bottom first)")
        ->check(CLI::IsMember({"png", "bgra"}))
        ->capture_default_str();
    command_->add_option("--roi", roi_, "Region of interest X,Y,WIDTH,HEIGHT before streaming");
    command_
        ->add_option("--set", assignments_,
                     "NAME=VALUE or R[N]=VALUE before streaming (repeatable)")
        ->allow_extra_args(false);
    command_->add_flag("-v,--verbose", verbose_,
                       "One line per frame: picture number, time, interval, frames per second");
    command_->add_flag("--json", json_, "The summary as JSON");
    command_->footer("Example:\n  bayercam --camera sim:scene=moving capture -n 5 -o pictures");
}

CaptureStatistics CaptureCommand::takeFrames(Camera& camera, const std::filesystem::path& folder,
                                             std::ostream& out, std::ostream* progress) const {
    const OutputFormat output = format_ == "bgra" ? OutputFormat::kBgra : OutputFormat::kPng;
    CaptureStatistics statistics;
    FrameWriter writer(folder, output, kWriterQueue);
    int failuresInARow = 0;
    while (statistics.frames() < std::uint64_t(frames_)) {
        Result<Frame> frame = camera.nextFrame(kFrameWait);
        if (!frame) {
            frame.error().kind == Error::Kind::kTimedOut ? statistics.readTimedOut()
                                                         : statistics.readFailed();
            if (++failuresInARow == kMaxFailuresInARow) {
                throw failure("the camera stopped sending frames: " + frame.error().message);
            }
            continue;
        }
        failuresInARow = 0;
        Frame f = std::move(frame).value();
        statistics.frameTaken(f.pictureNumber, f.presentationTime);
        const std::string name = frameName(int(statistics.frames()), format_);
        writer.write(name, output == OutputFormat::kPng ? f.upright() : std::move(f.pixels),
                     FrameSize{f.width, f.height});
        if (verbose_) out << frameLine(name, f, statistics) << "\n";
        if (progress != nullptr) *progress << progressLine(statistics, frames_) << std::flush;
    }
    writer.finish();
    if (progress != nullptr) *progress << "\n";
    return statistics;
}

void CaptureCommand::run(std::ostream& out, std::ostream& err) const {
    const std::optional<Region> region =
        roi_.empty() ? std::nullopt : std::optional(parseRegionOption(roi_));
    for (const std::string& text : assignments_) parseAssignment(text);
    const std::filesystem::path folder = folder_;
    prepareFolder(folder);

    std::unique_ptr<Camera> camera = choice_.open();
    applySettings(*camera, assignments_);
    if (region) take(camera->setRoi(*region));
    const VideoFormat format = take(camera->negotiateFormat());
    take(camera->start());

    const bool progress = !json_ && isatty(STDERR_FILENO) == 1;
    const CaptureStatistics statistics =
        takeFrames(*camera, folder, out, progress ? &err : nullptr);
    take(camera->stop());
    const CaptureSummary summary{statistics, folder.string(), format_, format.width, format.height};
    out << (json_ ? captureJson(summary) : describeCapture(summary)) << "\n";
}

}  // namespace bayercam::app
