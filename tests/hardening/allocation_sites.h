// The allocation sites of a device life. An allocation is known by the step of the life it
// happens in, its tag and the chain of calls that led to it (the return addresses on its
// stack), so the hundreds of register writes of a sensor start are one site, while the same
// request allocated by the start and by a run are two. As the count filter of a failure walk it
// lets the first allocations of each site count and no others: the walk then fails each site
// in turn. On the thread that lives the life the first allocation of a site counts; on the
// others (the grabber's frame reads) the first `otherThreadRepeats`, so that a read's second
// chunk fails too, with the first one already posted.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel.h"

namespace bayercam::testing {

// The steps of one device life, in the order it lives them.
enum class LifeStep {
    Load,
    Attach,
    OpenFilter,
    Intersect,
    CreatePin,
    Acquire,
    Pause,
    Run,
    Frames,
    PauseAgain,
    Stop,
    ClosePin,
    CloseFilter,
    StopDevice,
    Detach,
    Unload,
};
constexpr std::size_t kLifeSteps = std::size_t(LifeStep::Unload) + 1;

const char* stepName(LifeStep step);

class AllocationSites {
  public:
    AllocationSites(int lifeThreadRepeats, int otherThreadRepeats)
        : lifeThreadRepeats_(lifeThreadRepeats), otherThreadRepeats_(otherThreadRepeats) {}

    // The step the life is in now, called on the thread that lives it; allocations of other
    // threads count in it too.
    void enterStep(LifeStep step) {
        lifeThread_.store(std::this_thread::get_id());
        step_.store(int(step));
    }

    // As the count filter: true for the first allocations of each site. Nothing counts before
    // the life's first step.
    bool counts(ULONG tag);

    // What the nth counted allocation (1 = the first) was: its step, tag and calls.
    std::string describe(std::size_t n) const;

  private:
    struct Counted {
        LifeStep step;
        ULONG tag;
        std::vector<void*> calls;
    };

    std::atomic<std::thread::id> lifeThread_;
    const int lifeThreadRepeats_;
    const int otherThreadRepeats_;
    std::atomic<int> step_{-1};
    mutable std::mutex lock_;
    std::map<std::uint64_t, int> seen_;       // guarded by lock_: allocations per site
    std::map<std::size_t, Counted> counted_;  // guarded by lock_: by order of counting
};

}  // namespace bayercam::testing
