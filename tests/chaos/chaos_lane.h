// One lane of the run: a thread that draws actions from its own generator and performs them on
// one camera, each under the run's deadline, recording each in the run record and
// looking for verifier failures and a raised IRQL after each.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "host/ks/ks_client.h"
#include "tests/chaos/action_catalogue.h"
#include "tests/chaos/camera_slot.h"
#include "tests/chaos/run_record.h"

namespace bayercam::chaos {

// What every lane of a run shares.
struct RunShared {
    std::uint64_t seed;
    host::ks::KsClient& client;
    std::mutex pnp;
    RunRecord& record;
    std::chrono::milliseconds deadline;  // of any one action
    // Reports a hang of the action named, with the recent history, and ends the process.
    std::function<void(const std::string& what)> hang;
    // Reports a fault found while lane was at step, with the recent history.
    std::function<void(int lane, std::uint64_t step, const std::string& what)> fault;
};

class ChaosLane {
  public:
    ChaosLane(int id, LaneRole role, CameraSlot& slot, RunShared& shared);

    // Performs actions until the time is up.
    void run(std::chrono::steady_clock::time_point until);

  private:
    void step(std::uint64_t index);
    void lookForFaults(std::uint64_t index);

    const int id_;
    const LaneRole role_;
    CameraSlot& slot_;
    RunShared& shared_;
    ChaosRng rng_;
};

}  // namespace bayercam::chaos
