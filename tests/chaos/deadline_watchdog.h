// Every action and every teardown step of the runner runs under a deadline. A thread watches
// them; when one overruns, it calls the overrun handler (which reports the hang and ends the
// process: a hung action cannot be torn down).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace bayercam::chaos {

class DeadlineWatchdog {
  public:
    using Clock = std::chrono::steady_clock;
    // Called on the watchdog's thread with the lane and what it was doing.
    using OverrunHandler = std::function<void(int lane, const std::string& what)>;

    DeadlineWatchdog(Clock::duration deadline, OverrunHandler onOverrun);
    ~DeadlineWatchdog();
    DeadlineWatchdog(const DeadlineWatchdog&) = delete;
    DeadlineWatchdog& operator=(const DeadlineWatchdog&) = delete;

    void arm(int lane, std::string what);
    void disarm(int lane);

  private:
    struct Armed {
        std::string what;
        Clock::time_point due;
    };
    void watch();

    const Clock::duration deadline_;
    const OverrunHandler onOverrun_;
    std::mutex mutex_;
    std::condition_variable stopping_;
    std::map<int, Armed> armed_;  // guarded by mutex_
    bool stop_ = false;           // guarded by mutex_
    std::thread thread_;
};

// Arms the lane for the life of the scope.
class Deadline {
  public:
    Deadline(DeadlineWatchdog& watchdog, int lane, std::string what)
        : watchdog_(watchdog), lane_(lane) {
        watchdog_.arm(lane_, std::move(what));
    }
    ~Deadline() { watchdog_.disarm(lane_); }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

  private:
    DeadlineWatchdog& watchdog_;
    int lane_;
};

}  // namespace bayercam::chaos
