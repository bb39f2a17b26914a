#include "tests/support/kernel_test.h"

#include "host/kernel/failure_injection.h"
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
    before_.emplace();
}

void KernelTest::TearDown() {
    injection::reset();
    pool::setGuardedTags({});
    const std::string problems = before_->problems(leakPatience_);
    if (!problems.empty()) ADD_FAILURE() << "the test left behind:\n" << problems;
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
