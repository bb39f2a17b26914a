#include "tests/fuzz/kernel_baseline.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace bayercam::fuzz {

void fuzzFailure(std::string_view message) {
    std::fprintf(stderr, "fuzz: %.*s\n", static_cast<int>(message.size()), message.data());
    std::abort();
}

void KernelBaseline::expectClean(std::string_view what) const {
    // Requests completed on the bus thread and ending system threads release a moment later.
    const std::string problems = snapshot_.problems(std::chrono::seconds(2));
    if (!problems.empty()) fuzzFailure(std::string(what) + ": left behind:\n" + problems);
}

}  // namespace bayercam::fuzz
