#include "tests/support/kernel_snapshot.h"

#include <thread>

#include "host/kernel/handle_table.h"

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

}  // namespace bayercam::host::testing
