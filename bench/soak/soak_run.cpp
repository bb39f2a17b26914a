#include "bench/soak/soak_run.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <limits>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "app/lib/camera.h"
#include "bench/soak/flatness_judge.h"
#include "bench/soak/process_memory.h"
#include "bench/soak/property_shaker.h"
#include "host/kernel/pool.h"

namespace bayercam::soak {

namespace {

using Clock = std::chrono::steady_clock;

// Frames and their losses, counted from the start of the stream.
struct FrameTally {
    std::uint64_t delivered = 0;
    std::uint64_t driverRead = 0;      // the highest picture number seen: frames the driver read
    std::uint64_t withoutPicture = 0;  // buffers handed back empty and queued again
    std::uint64_t timedOut = 0;        // waits of a second with no frame
    std::uint64_t otherFailures = 0;
    std::uint64_t changes = 0;  // settings changed
};

// A settings store of its own, so a soak never touches the user's settings.
class ScratchStore {
  public:
    ScratchStore() {
        std::string pattern = (std::filesystem::temp_directory_path() / "bayercam-soak-XXXXXX");
        if (mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
    }
    ~ScratchStore() {
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    ScratchStore(const ScratchStore&) = delete;
    ScratchStore& operator=(const ScratchStore&) = delete;
    std::filesystem::path registry() const { return folder_ / "registry.db"; }
    bool ready() const { return !folder_.empty(); }

  private:
    std::filesystem::path folder_;
};

void takeFrame(Camera& camera, FrameTally& tally) {
    Result<Frame> frame = camera.nextFrame(std::chrono::milliseconds(1000));
    tally.withoutPicture = camera.framesWithoutPicture();
    if (frame) {
        ++tally.delivered;
        tally.driverRead = std::max(tally.driverRead, std::uint64_t(frame.value().pictureNumber));
        camera.recycle(std::move(frame.value()));
    } else if (frame.error().kind == Error::Kind::kTimedOut) {
        ++tally.timedOut;
    } else {
        ++tally.otherFailures;
    }
}

void printReport(std::ostream& out, double seconds, const FrameTally& tally,
                 const CameraFrameCounts& sent, const ProcessMemory& memory,
                 const host::pool::Snapshot& pool) {
    const std::uint64_t notDelivered =
        tally.driverRead > tally.delivered ? tally.driverRead - tally.delivered : 0;
    out << "[" << int(seconds) << " s] frames: " << tally.delivered << " delivered, "
        << tally.changes << " setting changes\n"
        << "  dropped: " << sent.notAsked << " camera slots not asked for, " << sent.cutShort
        << " cut short by the camera, "
        << (sent.sent > tally.driverRead ? sent.sent - tally.driverRead : 0)
        << " sent but not read whole, " << notDelivered
        << " read but not delivered (overwritten in the double buffer), " << tally.withoutPicture
        << " handed back without a picture, " << tally.timedOut << " waits timed out, "
        << tally.otherFailures << " other failures\n"
        << "  memory: resident " << mebibytes(memory.residentKiB) << ", peak "
        << mebibytes(memory.highWaterKiB) << "\n"
        << "  pool (paused): " << describePool(pool) << "\n";
}

}  // namespace

namespace {

// The streaming part of a run: frames taken, settings changed, a checkpoint at each interval.
class SoakStream {
  public:
    SoakStream(const SoakSettings& settings, Camera& camera, PropertyShaker& shaker,
               std::ostream& out)
        : settings_(settings),
          camera_(camera),
          shaker_(shaker),
          out_(out),
          judge_(settings.warmUp, settings.judgeResidentMemory
                                      ? settings.residentToleranceKiB
                                      : std::numeric_limits<std::uint64_t>::max() / 2),
          pace_(settings.seed ^ 0x50a4ull) {}

    // The faults seen while streaming; the stream is paused when it returns.
    std::vector<std::string> run() {
        const auto start = Clock::now();
        const auto end = start + seconds(settings_.seconds);
        auto nextChange = start;
        auto nextReport = start + seconds(settings_.reportEvery);
        for (;;) {
            takeFrame(camera_, tally_);
            const auto now = Clock::now();
            if (now >= nextChange) {
                changeSetting();
                nextChange = now + std::chrono::milliseconds(
                                       std::uniform_int_distribution<int>(50, 500)(pace_));
            }
            if (now >= nextReport || now >= end) {
                const bool last = now >= end;
                checkpoint(std::chrono::duration<double>(now - start).count(), last);
                if (last) break;
                while (nextReport <= now) nextReport += seconds(settings_.reportEvery);
            }
        }
        if (refusedChanges_ > 0) {
            faults_.push_back(std::to_string(refusedChanges_) +
                              " setting changes were refused; the first: " + firstRefusal_);
        }
        return faults_;
    }

    const FrameTally& tally() const { return tally_; }

  private:
    static Clock::duration seconds(double s) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
    }

    void changeSetting() {
        Result<std::string> change = shaker_.changeOne(camera_);
        if (change) {
            ++tally_.changes;
        } else if (refusedChanges_++ == 0) {
            firstRefusal_ = change.error().message;
        }
    }

    // Pauses the stream so that no transfer is in flight, takes the pool and memory levels,
    // reports them and resumes (unless this is the last one).
    void checkpoint(double at, bool last) {
        Status paused = camera_.pause();
        const host::pool::Snapshot pool = host::pool::snapshot();
        const ProcessMemory memory = readProcessMemory().value_or(ProcessMemory{});
        if (!paused) faults_.push_back("the stream did not pause: " + paused.error().message);
        printReport(out_, at, tally_, camera_.cameraFrameCounts(), memory, pool);
        const std::vector<std::string> found = judge_.add(Checkpoint{
            at, tally_.delivered - deliveredAtLastCheckpoint_, memory.residentKiB, pool});
        for (const std::string& fault : found) out_ << "  fault: " << fault << "\n";
        faults_.insert(faults_.end(), found.begin(), found.end());
        deliveredAtLastCheckpoint_ = tally_.delivered;
        if (last) return;
        Status resumed = camera_.start();
        if (!resumed) faults_.push_back("the stream did not resume: " + resumed.error().message);
    }

    const SoakSettings& settings_;
    Camera& camera_;
    PropertyShaker& shaker_;
    std::ostream& out_;
    FlatnessJudge judge_;
    std::mt19937_64 pace_;
    FrameTally tally_;
    std::uint64_t deliveredAtLastCheckpoint_ = 0;
    std::uint64_t refusedChanges_ = 0;
    std::string firstRefusal_;
    std::vector<std::string> faults_;
};

int verdict(const std::vector<std::string>& faults, const FrameTally& tally, std::ostream& out) {
    if (tally.delivered == 0) {
        out << "soak: FAILED: no frame arrived\n";
        return 1;
    }
    if (faults.empty()) {
        out << "soak: passed: " << tally.delivered
            << " frames delivered; nothing grew after the warm-up\n";
        return 0;
    }
    out << "soak: FAILED with " << faults.size() << " faults:\n";
    for (const std::string& fault : faults) out << "  " << fault << "\n";
    return 1;
}

}  // namespace

int runSoak(const SoakSettings& settings, std::ostream& out) {
    out << "soak: seed " << settings.seed << "\n"
        << "soak: camera " << settings.camera.text() << ", " << settings.seconds
        << " s, a report every " << settings.reportEvery << " s, warm-up " << settings.warmUp
        << " s, resident memory "
        << (settings.judgeResidentMemory
                ? "tolerance " + mebibytes(settings.residentToleranceKiB)
                : "not judged (the address sanitizer's quarantine holds freed memory)")
        << "\n";
    ScratchStore store;
    if (!store.ready()) {
        out << "soak: no scratch folder for the settings store\n";
        return 2;
    }
    Result<std::unique_ptr<Camera>> opened = Camera::open(settings.camera, store.registry());
    if (!opened) {
        out << "soak: " << opened.error().message << "\n";
        return 2;
    }
    Camera& camera = *opened.value();
    Result<PropertyShaker> shaker = PropertyShaker::make(camera, settings.seed);
    if (!shaker) {
        out << "soak: " << shaker.error().message << "\n";
        return 2;
    }
    const host::pool::Snapshot beforeStart = host::pool::snapshot();
    if (Status started = camera.start(); !started) {
        out << "soak: " << started.error().message << "\n";
        return 2;
    }
    SoakStream stream(settings, camera, shaker.value(), out);
    std::vector<std::string> faults = stream.run();
    if (Status stopped = camera.stop(); !stopped) {
        faults.push_back("the stream did not stop: " + stopped.error().message);
    }
    const host::pool::Snapshot afterStop = host::pool::snapshot();
    for (std::string& fault : FlatnessJudge::compareStopped(beforeStart, afterStop)) {
        faults.push_back(std::move(fault));
    }
    return verdict(faults, stream.tally(), out);
}

}  // namespace bayercam::soak
