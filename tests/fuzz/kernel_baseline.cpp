#include "tests/fuzz/kernel_baseline.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/kernel/pool.h"
#include "host/kernel/verifier.h"
#include "platform/kernel.h"

namespace bayercam::fuzz {
namespace {

// Requests completed on the bus thread and ending system threads release a moment later.
constexpr auto kPatience = std::chrono::seconds(2);

}  // namespace

void fuzzFailure(std::string_view message) {
    std::fprintf(stderr, "fuzz: %.*s\n", static_cast<int>(message.size()), message.data());
    for (const std::string& failure : host::verifier::takeFailures()) {
        std::fprintf(stderr, "  verifier: %s\n", failure.c_str());
    }
    std::abort();
}

void expectNoVerifierFailure(std::string_view what) {
    const auto failures = host::verifier::takeFailures();
    if (failures.empty()) return;
    std::string message = std::string(what) + ": verifier failures:";
    for (const std::string& failure : failures) message += "\n  " + failure;
    fuzzFailure(message);
}

KernelBaseline::KernelBaseline() { expectNoVerifierFailure("before the baseline"); }

void KernelBaseline::expectClean(std::string_view what) const {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        fuzzFailure(std::string(what) + ": the thread is left at IRQL " +
                    std::to_string(int(KeGetCurrentIrql())));
    }
    const std::string leaks = snapshot_.leaksAfter(kPatience);
    host::pool::flushQuarantine();
    expectNoVerifierFailure(what);
    if (!leaks.empty()) fuzzFailure(std::string(what) + ": kernel objects left behind:\n" + leaks);
}

}  // namespace bayercam::fuzz
