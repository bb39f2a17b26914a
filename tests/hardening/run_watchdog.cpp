#include "tests/hardening/run_watchdog.h"

#include <cstdio>
#include <cstdlib>

namespace bayercam::testing {

RunWatchdog::RunWatchdog(std::chrono::seconds limit)
    : limit_(limit), thread_([this] { watch(); }) {}

RunWatchdog::~RunWatchdog() {
    {
        std::lock_guard guard(lock_);
        done_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void RunWatchdog::arm(std::size_t run) {
    std::lock_guard guard(lock_);
    run_ = run;
    deadline_ = std::chrono::steady_clock::now() + limit_;
    changed_.notify_all();
}

void RunWatchdog::disarm() {
    std::lock_guard guard(lock_);
    run_ = 0;
    changed_.notify_all();
}

void RunWatchdog::watch() {
    std::unique_lock guard(lock_);
    while (!done_) {
        if (run_ == 0) {
            changed_.wait(guard);
        } else if (changed_.wait_until(guard, deadline_) == std::cv_status::timeout && run_ != 0 &&
                   std::chrono::steady_clock::now() >= deadline_) {
            std::fprintf(stderr, "run %zu still runs after %lld s: it hangs\n", run_,
                         static_cast<long long>(limit_.count()));
            std::abort();
        }
    }
}

}  // namespace bayercam::testing
