// The base fixture of every host and driver test. At teardown it fails the test when pool
// blocks, requests, MDLs, thread objects, device objects or handles are not back to where
// they were at set-up (printing the leak report), when the thread was left at a raised IRQL,
// or when a verifier failure was left unconsumed. It disarms failure injection and guard mode.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/kernel_snapshot.h"

namespace bayercam::host::testing {

class KernelTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Takes the verifier failures recorded so far and expects exactly one, containing
    // `fragment`.
    void expectVerifierFailure(std::string_view fragment);

    // Takes and returns the verifier failures recorded so far.
    std::vector<std::string> takeVerifierFailures();

    // How long teardown waits for objects that other threads are still releasing (a request
    // completed elsewhere, a thread object whose thread is just ending).
    std::chrono::milliseconds leakPatience_{2000};

  private:
    std::optional<KernelSnapshot> before_;
};

}  // namespace bayercam::host::testing
