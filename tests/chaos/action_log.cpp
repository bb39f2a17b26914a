#include "tests/chaos/action_log.h"

#include <algorithm>
#include <cstdio>

namespace bayercam::chaos {

std::uint64_t ActionLog::begin(int lane, std::uint64_t step, const std::string& what) {
    std::lock_guard lock(mutex_);
    entries_.push_back({nextId_, lane, step, what, {}, std::chrono::steady_clock::now()});
    // The oldest finished entry goes; one still running stays, to be reported if it hangs.
    if (entries_.size() > capacity_) {
        auto finished = std::find_if(entries_.begin(), entries_.end(),
                                     [](const Entry& entry) { return !entry.outcome.empty(); });
        if (finished != entries_.end()) entries_.erase(finished);
    }
    return nextId_++;
}

ActionLog::Entry* ActionLog::find(std::uint64_t id) {
    for (Entry& entry : entries_) {
        if (entry.id == id) return &entry;
    }
    return nullptr;
}

void ActionLog::note(std::uint64_t id, const std::string& detail) {
    std::lock_guard lock(mutex_);
    if (Entry* entry = find(id)) entry->what += " " + detail;
}

void ActionLog::end(std::uint64_t id, const std::string& outcome, bool keep) {
    std::lock_guard lock(mutex_);
    auto entry =
        std::find_if(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; });
    if (entry == entries_.end()) return;
    entry->outcome = outcome;
    if (echo_) std::printf("%s\n", format(*entry).c_str());
    if (!keep) entries_.erase(entry);
}

std::string ActionLog::format(const Entry& entry) const {
    const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(entry.began - start_);
    char prefix[64];
    std::snprintf(prefix, sizeof(prefix), "%8.3fs lane %d #%llu ", at.count() / 1000.0, entry.lane,
                  static_cast<unsigned long long>(entry.step));
    return prefix + entry.what + " -> " + (entry.outcome.empty() ? "(running)" : entry.outcome);
}

std::vector<std::string> ActionLog::recent() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    for (const Entry& entry : entries_) lines.push_back(format(entry));
    return lines;
}

}  // namespace bayercam::chaos
