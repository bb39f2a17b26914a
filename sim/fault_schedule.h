// Seeded random camera faults: at each occasion a test or a runner offers, the schedule arms one
// of the camera's one-shot faults with a given probability. The same seed and the same rate give
// the same sequence of decisions, so a failing run can be repeated from its seed.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <thread>

#include "sim/simulated_camera.h"

namespace bayercam::sim {

enum class FaultKind : std::uint8_t {
    StallFramePipe,  // the frame pipe halts until the driver clears it
    NeverAnswer,     // the next frame asked for is never sent
    ShortChunk,      // a frame-pipe read ends early
    FailChunk,       // a frame-pipe read fails and its data is lost
    FailReply,       // a reply read fails
    ShortReply,      // a reply comes short
    NeverReply,      // the replies to a query are never sent
    DisablePort,     // the port is disabled until the driver resets it
};
inline constexpr std::size_t kFaultKinds = 8;

const char* faultName(FaultKind kind);

struct ScheduledFault {
    FaultKind kind;
    std::size_t bytes = 0;  // ShortChunk and ShortReply: how many bytes still arrive
};

class FaultSchedule {
  public:
    // rate: the chance, 0..1, that one occasion arms a fault; kinds: those it picks from.
    FaultSchedule(std::uint64_t seed, double rate, std::span<const FaultKind> kinds);
    FaultSchedule(std::uint64_t seed, double rate, std::initializer_list<FaultKind> kinds)
        : FaultSchedule(seed, rate, std::span<const FaultKind>(kinds.begin(), kinds.size())) {}
    FaultSchedule(std::uint64_t seed, double rate);  // every kind

    // One thread at a time draws or ticks.
    // Draws the decision for one occasion without touching a camera.
    std::optional<ScheduledFault> draw();
    // One occasion: draws and, when a fault comes up, arms it on the camera.
    std::optional<ScheduledFault> tick(SimulatedCamera& camera);

    std::uint64_t seed() const { return seed_; }
    // How many faults of a kind were armed so far; safe while another thread ticks.
    std::uint64_t armed(FaultKind kind) const { return armed_[std::size_t(kind)]; }
    std::uint64_t armedTotal() const;

  private:
    double unit();  // uniform in [0, 1)
    std::uint64_t below(std::uint64_t bound);

    std::uint64_t seed_;
    double rate_;
    std::array<FaultKind, kFaultKinds> kinds_{};
    std::size_t kindCount_ = 0;
    std::mt19937_64 random_;
    std::array<std::atomic<std::uint64_t>, kFaultKinds> armed_{};
};

void armFault(SimulatedCamera& camera, const ScheduledFault& fault);

// Offers the schedule an occasion every `period` on a thread of its own, from construction
// until destruction.
class FaultScheduleThread {
  public:
    FaultScheduleThread(FaultSchedule& schedule, SimulatedCamera& camera,
                        std::chrono::microseconds period);
    ~FaultScheduleThread();
    FaultScheduleThread(const FaultScheduleThread&) = delete;
    FaultScheduleThread& operator=(const FaultScheduleThread&) = delete;

  private:
    std::mutex lock_;
    std::condition_variable wake_;
    bool stop_ = false;  // guarded by lock_
    std::thread thread_;
};

}  // namespace bayercam::sim
