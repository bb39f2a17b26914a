// The stand-in's driver verifier: misuse of a kernel service is recorded with a clear message
// (and printed to stderr) instead of stopping the machine. Tests take the failures they expect;
// the test fixture fails a test that leaves any behind.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bayercam::host::verifier {

// Records a failure. Callable from any thread and at any IRQL.
void report(std::string message) noexcept;

// Removes and returns the failures recorded so far, oldest first.
std::vector<std::string> takeFailures();

}  // namespace bayercam::host::verifier
