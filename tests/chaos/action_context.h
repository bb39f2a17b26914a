// What an action works with: its own parameter generator, the class driver's client, the run's
// tally and a way to note the parameters it drew before it acts on them.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "host/ks/ks_client.h"
#include "tests/chaos/chaos_rng.h"
#include "tests/chaos/run_tally.h"

namespace bayercam::chaos {

struct ActionContext {
    ChaosRng rng;
    host::ks::KsClient& client;
    // Device arrival, start, stop and removal come from one thread at a time, as PnP requests
    // do, whichever camera they are for.
    std::mutex& pnp;
    RunTally& tally;
    std::function<void(const std::string&)> note;
    // A fault of the system under test seen by the action (a bad frame, say).
    std::function<void(const std::string&)> fault;
};

// What an action returns: the status of its last request, or nothing when it did not apply.
using ActionResult = std::optional<NTSTATUS>;

}  // namespace bayercam::chaos
