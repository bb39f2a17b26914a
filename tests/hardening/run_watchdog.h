// Ends the program with a message when one run of a long test takes longer than its limit, so
// a hang names the run (for a failure walk, the failing allocation) instead of running into the
// test program's time-out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace bayercam::testing {

class RunWatchdog {
  public:
    explicit RunWatchdog(std::chrono::seconds limit);
    ~RunWatchdog();
    RunWatchdog(const RunWatchdog&) = delete;
    RunWatchdog& operator=(const RunWatchdog&) = delete;

    // Run number `run` (not 0) starts now; disarm() when it has ended.
    void arm(std::size_t run);
    void disarm();

  private:
    void watch();

    const std::chrono::seconds limit_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool done_ = false;                               // guarded by lock_
    std::size_t run_ = 0;                             // guarded by lock_: 0 when disarmed
    std::chrono::steady_clock::time_point deadline_;  // guarded by lock_
    std::thread thread_;
};

}  // namespace bayercam::testing
