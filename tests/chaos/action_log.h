// A ring of the most recent actions of every lane, in the order they began, with what each was
// doing and how it ended; printed when the run fails so the failure can be read with its
// history. Thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace bayercam::chaos {

class ActionLog {
  public:
    explicit ActionLog(std::size_t capacity, bool echo) : capacity_(capacity), echo_(echo) {}

    // A new entry "lane L #step what"; returns its id for note() and end().
    std::uint64_t begin(int lane, std::uint64_t step, const std::string& what);
    // Adds the parameters the action drew (printed while the action runs, too).
    void note(std::uint64_t id, const std::string& detail);
    // An action that did not apply (keep false) leaves the ring, so the ring holds what acted.
    void end(std::uint64_t id, const std::string& outcome, bool keep = true);

    // The retained entries, oldest first, one line each.
    std::vector<std::string> recent() const;

  private:
    struct Entry {
        std::uint64_t id;
        int lane;
        std::uint64_t step;
        std::string what;
        std::string outcome;  // empty while running
        std::chrono::steady_clock::time_point began;
    };
    Entry* find(std::uint64_t id);  // caller holds mutex_
    std::string format(const Entry& entry) const;

    const std::size_t capacity_;
    const bool echo_;  // print each entry as it ends
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    mutable std::mutex mutex_;
    std::deque<Entry> entries_;  // guarded by mutex_
    std::uint64_t nextId_ = 0;   // guarded by mutex_
};

}  // namespace bayercam::chaos
