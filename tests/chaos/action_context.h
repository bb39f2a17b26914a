// What an action works with: its own parameter generator, the class driver's client, the run's
// record and a way to note the parameters it drew before it acts on them.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "host/ks/ks_client.h"
#include "tests/chaos/chaos_rng.h"
#include "tests/chaos/run_record.h"

namespace bayercam::chaos {

struct ActionContext {
    ChaosRng rng;
    host::ks::KsClient& client;
    // Device arrival, start, stop and removal come from one thread at a time, as PnP requests
    // do, whichever camera they are for.
    std::mutex& pnp;
    RunRecord& record;
    std::function<void(const std::string&)> note;
    // A fault of the system under test seen by the action (a bad frame, say).
    std::function<void(const std::string&)> fault;
};

}  // namespace bayercam::chaos
