// Waits with a bound. A call that must return in time and does not is a hang, which nothing
// could clean up after: the process ends.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace bayercam::testing {

// Runs `work` on a thread of its own and waits for it at most `deadline`. On a hang it prints
// `what`, calls `onHang` (to print more, or to end the process its own way) and aborts.
void WithDeadline(const std::string& what, std::chrono::milliseconds deadline,
                  const std::function<void()>& work, const std::function<void()>& onHang = {});

// Polls `done` until it holds or the deadline passes; false on the deadline.
bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds deadline);

}  // namespace bayercam::testing
