// Judges a long stream's checkpoints: frames keep arriving, and after a warm-up the pool (taken
// while the stream is paused, so that no transfer is in flight) stays at one level and the
// process's resident memory does not grow beyond a tolerance.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/kernel/pool.h"

namespace bayercam::soak {

struct Checkpoint {
    double seconds = 0;           // since the stream started
    std::uint64_t newFrames = 0;  // frames delivered since the previous checkpoint
    std::uint64_t residentKiB = 0;
    host::pool::Snapshot pausedPool;
};

class FlatnessJudge {
  public:
    FlatnessJudge(double warmUpSeconds, std::uint64_t residentToleranceKiB)
        : warmUpSeconds_(warmUpSeconds), toleranceKiB_(residentToleranceKiB) {}

    // The faults this checkpoint shows; empty when none. The first checkpoint at or past the
    // warm-up sets the levels the later ones are held to.
    std::vector<std::string> add(const Checkpoint& checkpoint);
    // The pool once the stream has stopped must be what it was before the stream started.
    static std::vector<std::string> compareStopped(const host::pool::Snapshot& beforeStart,
                                                   const host::pool::Snapshot& afterStop);
    bool warmedUp() const { return baseline_.has_value(); }

  private:
    double warmUpSeconds_;
    std::uint64_t toleranceKiB_;
    double lastSeconds_ = 0;
    std::optional<Checkpoint> baseline_;
};

// One line per tag whose usage differs: "'Tgno' 5 blocks, 7340032 bytes (was 4 blocks, ...)".
std::vector<std::string> poolDifferences(const host::pool::Snapshot& was,
                                         const host::pool::Snapshot& now);

// "3 blocks, 192 bytes: 'Qvbz' 2 blocks 128 bytes, 'Tgno' 1 block 64 bytes".
std::string describePool(const host::pool::Snapshot& pool);

}  // namespace bayercam::soak
