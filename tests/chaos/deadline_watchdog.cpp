#include "tests/chaos/deadline_watchdog.h"

namespace bayercam::chaos {

DeadlineWatchdog::DeadlineWatchdog(Clock::duration deadline, OverrunHandler onOverrun)
    : deadline_(deadline), onOverrun_(std::move(onOverrun)), thread_([this] { watch(); }) {}

DeadlineWatchdog::~DeadlineWatchdog() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    stopping_.notify_all();
    thread_.join();
}

void DeadlineWatchdog::arm(int lane, std::string what) {
    std::lock_guard lock(mutex_);
    armed_[lane] = {std::move(what), Clock::now() + deadline_};
}

void DeadlineWatchdog::disarm(int lane) {
    std::lock_guard lock(mutex_);
    armed_.erase(lane);
}

void DeadlineWatchdog::watch() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        stopping_.wait_for(lock, std::chrono::milliseconds(100));
        const Clock::time_point now = Clock::now();
        for (const auto& [lane, armed] : armed_) {
            if (now < armed.due) continue;
            const int overdueLane = lane;
            const std::string what = armed.what;
            lock.unlock();
            onOverrun_(overdueLane, what);
            lock.lock();
            break;
        }
    }
}

}  // namespace bayercam::chaos
