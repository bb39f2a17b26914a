#include "tests/fuzz/kernel_baseline.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "host/kernel/handle_table.h"
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

KernelBaseline::KernelBaseline() {
    expectNoVerifierFailure("before the baseline");
    pool_ = host::pool::snapshot();
    for (host::live::Kind kind : host::live::kAllKinds) {
        live_[static_cast<std::size_t>(kind)] = host::live::count(kind);
    }
    handles_ = host::openHandleCount();
}

bool KernelBaseline::released() const {
    for (host::live::Kind kind : host::live::kAllKinds) {
        if (host::live::count(kind) != live_[static_cast<std::size_t>(kind)]) return false;
    }
    return host::openHandleCount() == handles_ && host::pool::leakReport(pool_).empty();
}

void KernelBaseline::expectClean(std::string_view what) const {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        fuzzFailure(std::string(what) + ": the thread is left at IRQL " +
                    std::to_string(int(KeGetCurrentIrql())));
    }
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!released() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    host::pool::flushQuarantine();
    expectNoVerifierFailure(what);
    if (released()) return;
    std::string report =
        std::string(what) + ": kernel objects left behind:\n" + host::pool::leakReport(pool_);
    for (host::live::Kind kind : host::live::kAllKinds) {
        const std::size_t was = live_[static_cast<std::size_t>(kind)];
        const std::size_t is = host::live::count(kind);
        if (is != was) {
            report += std::string(host::live::name(kind)) + ": " + std::to_string(is) +
                      " live (expected " + std::to_string(was) + ")\n";
        }
    }
    if (host::openHandleCount() != handles_) {
        report += "handles: " + std::to_string(host::openHandleCount()) + " open (expected " +
                  std::to_string(handles_) + ")\n";
    }
    fuzzFailure(report);
}

}  // namespace bayercam::fuzz
