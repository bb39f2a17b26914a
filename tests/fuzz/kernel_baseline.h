// The per-input check of the fuzz targets: the kernel as the baseline found it (see
// KernelSnapshot::problems). A difference is printed and the process aborts, so that libFuzzer
// keeps the input that caused it.
#pragma once

#include <string_view>

#include "tests/support/kernel_snapshot.h"

namespace bayercam::fuzz {

class KernelBaseline {
  public:
    // `what` names the step for the report.
    void expectClean(std::string_view what) const;

  private:
    host::testing::KernelSnapshot snapshot_;
};

// Prints the message, then aborts.
[[noreturn]] void fuzzFailure(std::string_view message);

}  // namespace bayercam::fuzz
