// The activities the stress tests run against a streaming device, each as threads of an
// ActivityThreads: property changes, state walks, filters opened and closed, white balance
// switched, frame time-outs moved against the camera's pace. Each counts what it did and
// records results that no request may give.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "host/ks/ks_client.h"
#include "sim/simulated_camera.h"
#include "tests/hardening/stress_support.h"

namespace bayercam::testing {

// What the activities did, and what went wrong, shared by their threads.
struct ActivityLog {
    std::atomic<std::uint64_t> requests{0};
    std::atomic<std::uint64_t> secondPins{0};  // pins created beside the streaming one
    void problem(std::string text);
    std::vector<std::string> problems() const;

  private:
    mutable std::mutex lock_;
    std::vector<std::string> problems_;  // guarded by lock_
};

// Every writable property set to random values (edges and beyond included) on `threads`
// threads, and every readable one read on another; a handler answers only success or
// STATUS_UNSUCCESSFUL. Gets must succeed.
void AddPropertyChurn(ActivityThreads& threads, host::ks::KsClient& client,
                      host::ks::KsFilterHandle filter, std::uint64_t seed, int setters,
                      ActivityLog& log);

// Filters opened on the device, asked for properties and a format, given a pin that must not
// take the busy camera, and closed, on `count` threads.
void AddFilterChurn(ActivityThreads& threads, host::ks::KsClient& client,
                    host::ks::KsDeviceHandle device, const KS_DATARANGE_VIDEO& range,
                    std::uint64_t seed, int count, ActivityLog& log);

// White balance switched on and off at random moments; while off, the gains are set back to
// their defaults one by one, as a client would.
void AddWhiteBalanceSwitching(ActivityThreads& threads, host::ks::KsClient& client,
                              host::ks::KsFilterHandle filter, std::uint64_t seed,
                              ActivityLog& log);

// The frame time-out moved between `lowMs` and `highMs` at random moments, so that against a
// camera whose frame interval lies in between, frames arrive just before or just after it.
void AddTimeoutWobble(ActivityThreads& threads, std::uint64_t seed, LONG lowMs, LONG highMs);

}  // namespace bayercam::testing
