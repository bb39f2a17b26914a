// What the kernel stand-in holds at one moment (pool blocks per tag, live requests, MDLs,
// thread and device objects, open handles): the leak check of every test, fuzz input and run,
// with the IRQL and the verifier's findings.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <string>

#include "host/kernel/live_objects.h"
#include "host/kernel/pool.h"

namespace bayercam::host::testing {

class KernelSnapshot {
  public:
    KernelSnapshot();

    // One line per tag, kind or handle count that differs from the snapshot, after giving other
    // threads up to `patience` to let go (a request completed elsewhere, a thread object whose
    // thread is just ending); empty when everything is back.
    std::string leaksAfter(std::chrono::milliseconds patience) const;
    // Everything left wrong, one line each, or empty: the calling thread at a raised IRQL (which
    // this lowers), the leaks after `patience`, and the verifier failures recorded so far
    // (taken), the late writes into freed blocks among them.
    std::string problems(std::chrono::milliseconds patience) const;

  private:
    std::string differences() const;

    pool::Snapshot pool_;
    std::array<std::size_t, std::size(live::kAllKinds)> objects_{};
    std::size_t handles_ = 0;
};

}  // namespace bayercam::host::testing
