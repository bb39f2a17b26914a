// The per-input leak check of the fuzz targets: the pool, requests, MDLs, thread objects, device
// objects and handles as they were when the baseline was taken, the thread back at passive level
// and no verifier failure left. A difference is printed and the process aborts, so that
// libFuzzer keeps the input that caused it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "host/kernel/live_objects.h"
#include "host/kernel/pool.h"

namespace bayercam::fuzz {

class KernelBaseline {
  public:
    // Takes the baseline now; aborts when a verifier failure is already recorded.
    KernelBaseline();

    // Waits a little for objects other threads are still releasing, then aborts on any
    // difference from the baseline. `what` names the step for the report.
    void expectClean(std::string_view what) const;

  private:
    bool released() const;

    host::pool::Snapshot pool_;
    std::array<std::size_t, std::size(host::live::kAllKinds)> live_{};
    std::size_t handles_ = 0;
};

// Prints the message and the verifier failures recorded so far, then aborts.
[[noreturn]] void fuzzFailure(std::string_view message);

// Aborts when the verifier recorded any failure.
void expectNoVerifierFailure(std::string_view what);

}  // namespace bayercam::fuzz
