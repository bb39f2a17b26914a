#include "tests/support/deadline.h"

#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

namespace bayercam::testing {

void WithDeadline(const std::string& what, std::chrono::milliseconds deadline,
                  const std::function<void()>& work, const std::function<void()>& onHang) {
    std::packaged_task<void()> task(work);
    std::future<void> done = task.get_future();
    std::thread thread(std::move(task));
    if (done.wait_for(deadline) != std::future_status::ready) {
        std::fprintf(stderr, "HANG: %s did not return within %.1f s\n", what.c_str(),
                     double(deadline.count()) / 1000);
        std::fflush(stderr);
        if (onHang) onHang();
        std::abort();
    }
    thread.join();
    done.get();
}

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace bayercam::testing
