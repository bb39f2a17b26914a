// The end-of-run audit, as the test fixture makes it around each test: pool blocks, requests,
// MDLs, thread objects, device objects and handles back to where they were at the start, and no
// verifier failure left unconsumed.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "host/kernel/live_objects.h"
#include "host/kernel/pool.h"

namespace bayercam::chaos {

class LeakAudit {
  public:
    // Takes the baseline.
    LeakAudit();

    // Waits up to patience for objects other threads are still releasing, then returns one line
    // per leak and per verifier failure; empty when all is well.
    std::vector<std::string> check(std::chrono::milliseconds patience) const;

  private:
    bool everythingReleased() const;
    std::vector<std::string> leaks() const;

    host::pool::Snapshot poolBefore_;
    std::array<std::size_t, std::size(host::live::kAllKinds)> liveBefore_{};
    std::size_t handlesBefore_ = 0;
};

}  // namespace bayercam::chaos
