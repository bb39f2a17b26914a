#include "tests/support/kernel_snapshot.h"

#include <thread>

#include "host/kernel/handle_table.h"
#include "host/kernel/verifier.h"

namespace bayercam::host::testing {
namespace {

std::string countLine(const std::string& what, std::size_t is, std::size_t was, const char* state) {
    if (is == was) return {};
    return what + ": " + std::to_string(is) + " " + state + " (expected " + std::to_string(was) +
           ")\n";
}

}  // namespace

KernelSnapshot::KernelSnapshot() : pool_(pool::snapshot()), handles_(openHandleCount()) {
    for (live::Kind kind : live::kAllKinds) objects_[std::size_t(kind)] = live::count(kind);
}

std::string KernelSnapshot::differences() const {
    std::string report = pool::leakReport(pool_);
    for (live::Kind kind : live::kAllKinds) {
        report +=
            countLine(live::name(kind), live::count(kind), objects_[std::size_t(kind)], "live");
    }
    return report + countLine("handles", openHandleCount(), handles_, "open");
}

std::string KernelSnapshot::leaksAfter(std::chrono::milliseconds patience) const {
    const auto until = std::chrono::steady_clock::now() + patience;
    std::string report = differences();
    while (!report.empty() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        report = differences();
    }
    return report;
}

std::string KernelSnapshot::problems(std::chrono::milliseconds patience) const {
    std::string report;
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        report += "the thread ends at IRQL " + std::to_string(int(KeGetCurrentIrql())) +
                  " (expected PASSIVE_LEVEL)\n";
        KeLowerIrql(PASSIVE_LEVEL);
    }
    report += leaksAfter(patience);
    pool::flushQuarantine();
    const auto failures = verifier::takeFailures();
    if (!failures.empty()) {
        report += std::to_string(failures.size()) + " unexpected verifier failure(s):\n";
    }
    for (const std::string& failure : failures) report += "  " + failure + "\n";
    return report;
}

}  // namespace bayercam::host::testing
