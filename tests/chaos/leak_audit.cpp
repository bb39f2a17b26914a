#include "tests/chaos/leak_audit.h"

#include <sstream>
#include <thread>

#include "host/kernel/handle_table.h"
#include "host/kernel/verifier.h"

namespace bayercam::chaos {

namespace live = host::live;

LeakAudit::LeakAudit()
    : poolBefore_(host::pool::snapshot()), handlesBefore_(host::openHandleCount()) {
    for (live::Kind kind : live::kAllKinds) {
        liveBefore_[static_cast<std::size_t>(kind)] = live::count(kind);
    }
}

bool LeakAudit::everythingReleased() const {
    for (live::Kind kind : live::kAllKinds) {
        if (live::count(kind) != liveBefore_[static_cast<std::size_t>(kind)]) return false;
    }
    return host::openHandleCount() == handlesBefore_ && host::pool::leakReport(poolBefore_).empty();
}

std::vector<std::string> LeakAudit::leaks() const {
    std::vector<std::string> lines;
    std::istringstream report(host::pool::leakReport(poolBefore_));
    for (std::string line; std::getline(report, line);) lines.push_back("pool: " + line);
    for (live::Kind kind : live::kAllKinds) {
        const std::size_t was = liveBefore_[static_cast<std::size_t>(kind)];
        const std::size_t is = live::count(kind);
        if (is != was) {
            lines.push_back(std::string(live::name(kind)) + ": " + std::to_string(is) +
                            " live (expected " + std::to_string(was) + ")");
        }
    }
    if (host::openHandleCount() != handlesBefore_) {
        lines.push_back("handles: " + std::to_string(host::openHandleCount()) + " open (expected " +
                        std::to_string(handlesBefore_) + ")");
    }
    return lines;
}

std::vector<std::string> LeakAudit::check(std::chrono::milliseconds patience) const {
    const auto until = std::chrono::steady_clock::now() + patience;
    while (!everythingReleased() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::vector<std::string> lines = leaks();
    // Late writes into freed blocks are reported as verifier failures when the quarantine goes.
    host::pool::flushQuarantine();
    for (std::string& failure : host::verifier::takeFailures()) {
        lines.push_back("verifier: " + std::move(failure));
    }
    return lines;
}

}  // namespace bayercam::chaos
