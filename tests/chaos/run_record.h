// What a run did: a ring of the most recent actions of every lane, in the order they began, with
// what each was doing and how it ended (printed with a failure, so that it can be read with its
// history), how often each action ran or did not apply, the frames seen, the faults
// injected and the faults found. Thread-safe.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "tests/chaos/action_catalogue.h"

namespace bayercam::chaos {

enum class Count { Pictures, EmptyFrames, CameraFrames, CameraFaults, AllocationFaults, Kinds };

class RunRecord {
  public:
    RunRecord(std::size_t capacity, bool echo) : capacity_(capacity), echo_(echo) {}

    // A new entry "lane L #step action"; returns its id for note() and end().
    std::uint64_t begin(int lane, std::uint64_t step, ActionKind kind);
    // Adds the parameters the action drew (printed while the action runs, too).
    void note(std::uint64_t id, const std::string& detail);
    // An action that did not apply leaves the ring, so the ring holds what acted.
    void end(std::uint64_t id, ActionResult result);

    void add(Count what, std::uint64_t n = 1);
    // A fault of the system under test, with the context to read it by.
    void finding(std::string what);
    std::size_t findings() const;

    // The retained entries, oldest first, one line each.
    std::vector<std::string> recent() const;
    // The summary lines; injectedAllocations is the count the failure injection reports.
    std::vector<std::string> summary(std::size_t injectedAllocations) const;

  private:
    struct Entry {
        std::uint64_t id;
        int lane;
        std::uint64_t step;
        ActionKind kind;
        std::string what;
        std::string outcome;  // empty while running
        std::chrono::steady_clock::time_point began;
    };
    std::string format(const Entry& entry) const;

    const std::size_t capacity_;
    const bool echo_;  // print each entry as it ends
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    mutable std::mutex mutex_;
    std::deque<Entry> entries_;                                      // guarded by mutex_
    std::uint64_t nextId_ = 0;                                       // guarded by mutex_
    std::array<std::array<std::uint64_t, 2>, kActionKinds> ran_{};   // ran, skipped; by mutex_
    std::array<std::uint64_t, std::size_t(Count::Kinds)> counts_{};  // guarded by mutex_
    std::vector<std::string> findings_;                              // guarded by mutex_
};

// The status as the platform headers spell it in hex: 0xC0000001.
std::string statusName(NTSTATUS status);

}  // namespace bayercam::chaos
