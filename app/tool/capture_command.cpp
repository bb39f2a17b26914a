#include "app/tool/capture_command.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "app/tool/frame_writer.h"
#include "app/tool/number_parse.h"
#include "app/tool/property_arguments.h"
#include "app/tool/property_commands.h"

namespace bayercam::app {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr std::int64_t kMostFrames = 1000000;
// The longest the loop goes without looking for a stop request.
constexpr milliseconds kWaitSlice{100};
// Frames that may wait for the writer: about a quarter of a second at 30 frames a second.
constexpr std::size_t kWriterQueue = 8;

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

std::string frameLine(const std::string& name, const Frame& frame,
                      const CaptureStatistics& statistics) {
    char interval[32] = "-";
    if (statistics.lastInterval()) {
        std::snprintf(interval, sizeof(interval), "%.2f ms", *statistics.lastInterval());
    }
    char line[192];
    std::snprintf(line, sizeof(line), "%s picture %lld time %.4f s interval %s fps %.1f\n",
                  name.c_str(), static_cast<long long>(frame.pictureNumber),
                  double(frame.presentationTime) / 1e7, interval, statistics.framesPerSecond());
    return line;
}

std::string progressLine(const CaptureStatistics& statistics, std::uint64_t total) {
    char line[96];
    const std::string of = total == 0 ? "" : "/" + std::to_string(total);
    std::snprintf(line, sizeof(line), "\rframes %llu%s  %.1f fps  lost %llu   ",
                  static_cast<unsigned long long>(statistics.frames()), of.c_str(),
                  statistics.framesPerSecond(), static_cast<unsigned long long>(statistics.lost()));
    return line;
}

const CLI::Validator kFrameCount(
    [](std::string& text) -> std::string {
        const std::optional<std::int64_t> n = parseInteger(text);
        if (n && *n >= 0 && *n <= kMostFrames) return {};
        return "-n expects a number of frames, 0 (until stopped) to " +
               std::to_string(kMostFrames) + "; got " + inQuotes(text);
    },
    "FRAMES");

}  // namespace

CaptureCommand::CaptureCommand(CLI::App& tool, const CameraChoice& choice)
    : command_(tool.add_subcommand("capture", "Stream from the camera and write the frames")),
      choice_(choice) {
    framesOption_ = command_->add_option("-n,--frames", frames_, "Frames to write; 0: until stopped")
                        ->check(kFrameCount)
                        ->capture_default_str();
    command_->add_option("--duration", duration_, "Stop after this many seconds")
        ->check(CLI::PositiveNumber);
    command_
        ->add_option("-o,--output", output_,
                     "A folder for frame-0001.png, ...; FILE.png or FILE.bgra for one frame; - "
                     "(standard output), a FIFO or a device for a stream of frames")
        ->capture_default_str();
    command_
        ->add_option("--format", format_,
                     "png (RGB) or bgra (packed rows, top first); default: from a file's name, "
                     "bgra for a stream, else png")
        ->check(CLI::IsMember({"png", "bgra"}));
    command_->add_option("--roi", roi_, "Region of interest X,Y,WIDTH,HEIGHT before streaming");
    command_
        ->add_option("--set", assignments_,
                     "NAME=VALUE or R[N]=VALUE before streaming (repeatable)")
        ->allow_extra_args(false);
    command_->add_option("--metadata", metadata_,
                         "One JSON line per frame into FILE.jsonl, or - for standard error");
    command_->add_flag("-v,--verbose", verbose_,
                       "One line per frame: picture number, time, interval, frames per second");
    command_->add_flag("--json", json_, "The summary as JSON");
    command_->footer(
        "Ctrl-C ends a run cleanly: the frames taken are written and the summary printed.\n"
        "Examples:\n  bayercam --camera sim:scene=moving capture -n 5 -o pictures\n"
        "  bayercam capture -n 0 -o - | ffmpeg -f rawvideo -pix_fmt bgra -s 1360x1024 -r 30 "
        "-i - out.mkv");
}

std::uint64_t CaptureCommand::frameCount(const CaptureOutput& output) const {
    const bool counted = framesOption_->count() > 0;
    if (output.kind() == CaptureOutput::Kind::kFile) {
        if ((counted && frames_ != 1) || duration_) {
            throw usageError("-o " + output.name() +
                             " names one file, which takes one frame; give a folder for more");
        }
        return 1;
    }
    return duration_ && !counted ? 0 : frames_;
}

CaptureStatistics CaptureCommand::takeFrames(Camera& camera, CaptureOutput& output,
                                             MetadataLog* log, const RunSetting& setting,
                                             const StopRequest& stop, std::ostream& lines,
                                             std::ostream* progress) const {
    const std::uint64_t total = frameCount(output);
    FrameWriter writer(
        [&](const FrameJob& job) {
            output.write(job, output.frameName(job.index));
            if (log) log->write(job.metadataLine);
        },
        kWriterQueue);
    CaptureStatistics statistics;
    const auto started = steady_clock::now();
    auto lastFrame = started;
    while (stop.signal() == 0 && (total == 0 || statistics.frames() < total) &&
           (!duration_ || steady_clock::now() - started < std::chrono::duration<double>(*duration_))) {
        for (std::vector<std::uint8_t>& pixels : writer.takeSpentPixels()) {
            Frame spent;
            spent.pixels = std::move(pixels);
            camera.recycle(std::move(spent));
        }
        Result<Frame> next = camera.nextFrame(kWaitSlice);
        if (!next) {
            if (next.error().kind != Error::Kind::kTimedOut) throw failure(next.error().message);
            if (steady_clock::now() - lastFrame > setting.patience.limit())
                throw failure(setting.patience.noFrameMessage());
            continue;
        }
        lastFrame = steady_clock::now();
        Frame frame = std::move(next).value();
        statistics.frameTaken(frame.pictureNumber, frame.presentationTime);
        FrameJob job;
        job.index = statistics.frames();
        FrameMetadata metadata = setting.metadata;
        metadata.file = output.frameName(job.index);
        metadata.pictureNumber = frame.pictureNumber;
        metadata.presentationTime = frame.presentationTime;
        metadata.wallClock = std::chrono::system_clock::now();
        if (output.format() == OutputFormat::kPng) job.text = metadata.pngText();
        if (log) job.metadataLine = metadata.jsonLine();
        job.image = ImageView::bottomUp(frame.pixels, frame.rowStep, {frame.width, frame.height});
        job.pixels = std::move(frame.pixels);
        writer.write(std::move(job));
        if (verbose_) lines << frameLine(metadata.file, frame, statistics) << std::flush;
        if (progress != nullptr) *progress << progressLine(statistics, total) << std::flush;
    }
    writer.finish();
    output.finish();
    if (log) log->finish();
    if (progress != nullptr) *progress << "\n";
    return statistics;
}

int CaptureCommand::run(std::ostream& out, std::ostream& err) const {
    // Everything the command line alone decides is checked before the camera is opened.
    const std::optional<Region> region =
        roi_.empty() ? std::nullopt : std::optional(parseRegionOption(roi_));
    std::vector<PropertyWord> assignments;
    for (const std::string& text : assignments_) {
        assignments.push_back(parseAssignment(text));
        if (assignments.back().kind == PropertyWord::Kind::kProperty)
            take(lookupProperty(assignments.back().name));
    }
    CaptureOutput output(output_, format_);
    const std::uint64_t total = frameCount(output);

    // Then what the camera decides, before anything is written or created.
    std::unique_ptr<Camera> camera = choice_.open();
    for (const PropertyWord& word : assignments) checkAssignment(*camera, word);
    if (region) take(camera->checkRoi(*region));
    if (!region) take(camera->negotiateFormat());  // a stored region may give no picture
    output.open(total);
    const std::unique_ptr<MetadataLog> log =
        metadata_.empty() ? nullptr : std::make_unique<MetadataLog>(metadata_);
    for (const PropertyWord& word : assignments) applyAssignment(*camera, word);
    if (region) take(camera->setRoi(*region));
    const VideoFormat format = take(camera->negotiateFormat());

    RunSetting setting{
        FramePatience{milliseconds(take(camera->get("Timeout"))), camera->frameInterval(),
                      take(camera->get("ExTrigger")) != 0},
        FrameMetadata{}};
    setting.metadata.exposure = take(camera->get("Exposure"));
    setting.metadata.globalGain = take(camera->get("GlobalGain"));
    setting.metadata.region = take(camera->roi());

    // Standard output that carries frames carries nothing else; JSON goes alone.
    std::ostream& report = output.carriesStandardOutput() ? err : out;
    std::ostream& lines = json_ ? err : report;
    const bool progress = !json_ && !(verbose_ && &lines == &err) && isatty(STDERR_FILENO) == 1;

    const StopRequest stop;
    take(camera->start());
    const CaptureStatistics statistics =
        takeFrames(*camera, output, log.get(), setting, stop, lines, progress ? &err : nullptr);
    take(camera->stop());
    const CaptureSummary summary{statistics,   output.name(), std::string(formatName(output.format())),
                                 format.width, format.height, stop.signal()};
    report << (json_ ? captureJson(summary) : describeCapture(summary)) << "\n";
    if (stop.signal() == 0 || total == 0) return 0;
    return 128 + stop.signal();
}

}  // namespace bayercam::app
