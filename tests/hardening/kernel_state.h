// What the kernel stand-in holds at one moment (pool blocks per tag, live requests, MDLs,
// thread and device objects, open handles), for leak checks between the runs of one test.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "host/kernel/live_objects.h"
#include "host/kernel/pool.h"

namespace bayercam::testing {

struct KernelState {
    host::pool::Snapshot pool;
    std::array<std::size_t, std::size(host::live::kAllKinds)> objects{};
    std::size_t handles = 0;
};

KernelState CurrentKernelState();

// What is held beyond `before`, one line per tag or kind, after giving other threads a moment
// to let go; empty when nothing is.
std::string LeaksSince(const KernelState& before);

}  // namespace bayercam::testing
