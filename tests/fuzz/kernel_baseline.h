// The per-input leak check of the fuzz targets: the pool, requests, MDLs, thread objects, device
// objects and handles as they were when the baseline was taken, the thread back at passive level
// and no verifier failure left. A difference is printed and the process aborts, so that
// libFuzzer keeps the input that caused it.
#pragma once

#include <string_view>

#include "tests/support/kernel_snapshot.h"

namespace bayercam::fuzz {

class KernelBaseline {
  public:
    // Takes the baseline now; aborts when a verifier failure is already recorded.
    KernelBaseline();

    // Waits a little for objects other threads are still releasing, then aborts on any
    // difference from the baseline. `what` names the step for the report.
    void expectClean(std::string_view what) const;

  private:
    host::testing::KernelSnapshot snapshot_;
};

// Prints the message and the verifier failures recorded so far, then aborts.
[[noreturn]] void fuzzFailure(std::string_view message);

// Aborts when the verifier recorded any failure.
void expectNoVerifierFailure(std::string_view what);

}  // namespace bayercam::fuzz
