#include "tests/support/kernel_test.h"

#include <chrono>
#include <thread>

#include "host/kernel/failure_injection.h"
#include "host/kernel/handle_table.h"
#include "host/kernel/verifier.h"

namespace bayercam::host::testing {
namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += "  " + line + "\n";
    return text;
}

}  // namespace

void KernelTest::SetUp() {
    const auto stale = verifier::takeFailures();
    if (!stale.empty()) ADD_FAILURE() << "verifier failures before the test:\n" << joined(stale);
    injection::reset();
    poolBefore_ = pool::snapshot();
    for (live::Kind kind : live::kAllKinds) {
        liveBefore_[static_cast<std::size_t>(kind)] = live::count(kind);
    }
    handlesBefore_ = openHandleCount();
}

bool KernelTest::everythingReleased() const {
    for (live::Kind kind : live::kAllKinds) {
        if (live::count(kind) != liveBefore_[static_cast<std::size_t>(kind)]) return false;
    }
    return openHandleCount() == handlesBefore_ && pool::leakReport(poolBefore_).empty();
}

void KernelTest::reportLeaks() const {
    std::string report = pool::leakReport(poolBefore_);
    for (live::Kind kind : live::kAllKinds) {
        const std::size_t was = liveBefore_[static_cast<std::size_t>(kind)];
        const std::size_t is = live::count(kind);
        if (is != was) {
            report += std::string(live::name(kind)) + ": " + std::to_string(is) +
                      " live (expected " + std::to_string(was) + ")\n";
        }
    }
    if (openHandleCount() != handlesBefore_) {
        report += "handles: " + std::to_string(openHandleCount()) + " open (expected " +
                  std::to_string(handlesBefore_) + ")\n";
    }
    ADD_FAILURE() << "kernel objects leaked by the test:\n" << report;
}

void KernelTest::TearDown() {
    injection::reset();
    pool::setGuardedTags({});
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        ADD_FAILURE() << "the test thread ends at IRQL " << int(KeGetCurrentIrql())
                      << " (expected PASSIVE_LEVEL)";
        KeLowerIrql(PASSIVE_LEVEL);
    }
    const auto patience = std::chrono::steady_clock::now() + leakPatience_;
    while (!everythingReleased() && std::chrono::steady_clock::now() < patience) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!everythingReleased()) reportLeaks();
    pool::flushQuarantine();
    const auto failures = verifier::takeFailures();
    if (!failures.empty()) {
        ADD_FAILURE() << failures.size() << " unexpected verifier failure(s):\n"
                      << joined(failures);
    }
}

std::vector<std::string> KernelTest::takeVerifierFailures() { return verifier::takeFailures(); }

void KernelTest::expectVerifierFailure(std::string_view fragment) {
    const auto failures = verifier::takeFailures();
    ASSERT_EQ(failures.size(), 1u)
        << "expected one verifier failure containing \"" << fragment << "\", got:\n"
        << joined(failures);
    EXPECT_NE(failures.front().find(fragment), std::string::npos)
        << "expected a verifier failure containing \"" << fragment
        << "\", got: " << failures.front();
}

}  // namespace bayercam::host::testing
