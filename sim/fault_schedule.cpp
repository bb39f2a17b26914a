#include "sim/fault_schedule.h"

namespace bayercam::sim {
namespace {

constexpr std::size_t kLongestShortChunk = 64 * 1024;

}  // namespace

const char* faultName(FaultKind kind) {
    switch (kind) {
        case FaultKind::StallFramePipe:
            return "stall frame pipe";
        case FaultKind::NeverAnswer:
            return "never answer";
        case FaultKind::ShortChunk:
            return "short chunk";
        case FaultKind::FailChunk:
            return "failed chunk";
        case FaultKind::FailReply:
            return "failed reply";
        case FaultKind::ShortReply:
            return "short reply";
        case FaultKind::NeverReply:
            return "never reply";
        case FaultKind::DisablePort:
            return "disabled port";
    }
    return "unknown fault";
}

FaultSchedule::FaultSchedule(std::uint64_t seed, double rate, std::span<const FaultKind> kinds)
    : seed_(seed), rate_(rate), random_(seed) {
    for (FaultKind kind : kinds) {
        if (kindCount_ < kinds_.size()) kinds_[kindCount_++] = kind;
    }
}

FaultSchedule::FaultSchedule(std::uint64_t seed, double rate)
    : FaultSchedule(seed, rate,
                    {FaultKind::StallFramePipe, FaultKind::NeverAnswer, FaultKind::ShortChunk,
                     FaultKind::FailChunk, FaultKind::FailReply, FaultKind::ShortReply,
                     FaultKind::NeverReply, FaultKind::DisablePort}) {}

// The 64-bit engine's output is fixed by the standard; the distributions are not, so the
// draws are made here to give the same sequence with every library.
double FaultSchedule::unit() { return double(random_() >> 11) * 0x1.0p-53; }

std::uint64_t FaultSchedule::below(std::uint64_t bound) {
    return bound == 0 ? 0 : random_() % bound;
}

std::optional<ScheduledFault> FaultSchedule::draw() {
    if (kindCount_ == 0 || unit() >= rate_) return std::nullopt;
    ScheduledFault fault{kinds_[below(kindCount_)]};
    if (fault.kind == FaultKind::ShortChunk) fault.bytes = 1 + below(kLongestShortChunk - 1);
    if (fault.kind == FaultKind::ShortReply) fault.bytes = 1 + below(kCommandPacketBytes - 1);
    ++armed_[std::size_t(fault.kind)];
    return fault;
}

std::optional<ScheduledFault> FaultSchedule::tick(SimulatedCamera& camera) {
    std::optional<ScheduledFault> fault = draw();
    if (fault) armFault(camera, *fault);
    return fault;
}

std::uint64_t FaultSchedule::armedTotal() const {
    std::uint64_t total = 0;
    for (const auto& count : armed_) total += count;
    return total;
}

void armFault(SimulatedCamera& camera, const ScheduledFault& fault) {
    FaultKnobs& knobs = camera.faults();
    switch (fault.kind) {
        case FaultKind::StallFramePipe:
            knobs.stallFramePipe = true;
            break;
        case FaultKind::NeverAnswer:
            knobs.neverAnswer = true;
            break;
        case FaultKind::ShortChunk:
            knobs.shortChunkBytes = fault.bytes;
            break;
        case FaultKind::FailChunk:
            knobs.failChunk = true;
            break;
        case FaultKind::FailReply:
            knobs.failReply = true;
            break;
        case FaultKind::ShortReply:
            knobs.shortReplyBytes = fault.bytes;
            break;
        case FaultKind::NeverReply:
            knobs.neverReply = true;
            break;
        case FaultKind::DisablePort:
            camera.disablePort();
            break;
    }
}

FaultScheduleThread::FaultScheduleThread(FaultSchedule& schedule, SimulatedCamera& camera,
                                         std::chrono::microseconds period)
    : thread_([this, &schedule, &camera, period] {
          std::unique_lock guard(lock_);
          while (!wake_.wait_for(guard, period, [this] { return stop_; })) {
              schedule.tick(camera);
          }
      }) {}

FaultScheduleThread::~FaultScheduleThread() {
    {
        std::lock_guard guard(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

}  // namespace bayercam::sim
