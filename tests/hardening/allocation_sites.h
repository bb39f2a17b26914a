// The allocation sites of a device life. An allocation is known by the step of the life it
// happens in, its tag and the chain of calls that led to it (the return addresses on its
// stack), so the hundreds of register writes of a sensor start are one site, while the same
// request allocated by the start and by a run are two. As the count filter of a failure walk it
// lets the first `repeats` allocations of each site count and no others: the walk then fails
// each site in turn, the first time and again once something of the kind already happened
// (the second chunk of a frame read, with the first one posted).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "tests/hardening/device_life.h"

namespace bayercam::testing {

class AllocationSites {
  public:
    explicit AllocationSites(int repeats) : repeats_(repeats) {}

    // The step the life is in now; allocations of other threads count in it too.
    void enterStep(LifeStep step) { step_.store(int(step)); }

    // As the count filter: true for the first `repeats` allocations of each site. Nothing
    // counts before the life's first step.
    bool counts(ULONG tag);

    // What the nth counted allocation (1 = the first) was: its step, tag and calls.
    std::string describe(std::size_t n) const;

  private:
    struct Counted {
        LifeStep step;
        ULONG tag;
        std::vector<void*> calls;
    };

    const int repeats_;
    std::atomic<int> step_{-1};
    mutable std::mutex lock_;
    std::map<std::uint64_t, int> seen_;       // guarded by lock_: allocations per site
    std::map<std::size_t, Counted> counted_;  // guarded by lock_: by order of counting
};

}  // namespace bayercam::testing
