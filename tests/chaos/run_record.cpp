#include "tests/chaos/run_record.h"

#include <algorithm>
#include <cstdio>

namespace bayercam::chaos {

std::string statusName(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
    return text;
}

std::uint64_t RunRecord::begin(int lane, std::uint64_t step, ActionKind kind) {
    std::lock_guard lock(mutex_);
    entries_.push_back(
        {nextId_, lane, step, kind, actionName(kind), {}, std::chrono::steady_clock::now()});
    // The oldest finished entry goes; one still running stays, to be reported if it hangs.
    if (entries_.size() > capacity_) {
        auto finished = std::find_if(entries_.begin(), entries_.end(),
                                     [](const Entry& entry) { return !entry.outcome.empty(); });
        if (finished != entries_.end()) entries_.erase(finished);
    }
    return nextId_++;
}

void RunRecord::note(std::uint64_t id, const std::string& detail) {
    std::lock_guard lock(mutex_);
    for (Entry& entry : entries_) {
        if (entry.id == id) entry.what += " " + detail;
    }
}

void RunRecord::end(std::uint64_t id, ActionResult result) {
    std::lock_guard lock(mutex_);
    auto entry =
        std::find_if(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; });
    if (entry == entries_.end()) return;
    ++ran_[std::size_t(entry->kind)][result ? 0 : 1];
    entry->outcome = result ? statusName(*result) : "skipped";
    if (echo_) std::printf("%s\n", format(*entry).c_str());
    if (!result) entries_.erase(entry);
}

void RunRecord::add(Count what, std::uint64_t n) {
    std::lock_guard lock(mutex_);
    counts_[std::size_t(what)] += n;
}

void RunRecord::finding(std::string what) {
    std::lock_guard lock(mutex_);
    findings_.push_back(std::move(what));
}

std::size_t RunRecord::findings() const {
    std::lock_guard lock(mutex_);
    return findings_.size();
}

std::string RunRecord::format(const Entry& entry) const {
    const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(entry.began - start_);
    char prefix[64];
    std::snprintf(prefix, sizeof(prefix), "%8.3fs lane %d #%llu ", at.count() / 1000.0, entry.lane,
                  static_cast<unsigned long long>(entry.step));
    return prefix + entry.what + " -> " + (entry.outcome.empty() ? "(running)" : entry.outcome);
}

std::vector<std::string> RunRecord::recent() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    for (const Entry& entry : entries_) lines.push_back(format(entry));
    return lines;
}

std::vector<std::string> RunRecord::summary(std::size_t injectedAllocations) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines{"actions (ran / skipped):"};
    for (std::size_t i = 0; i < kActionKinds; ++i) {
        char line[96];
        std::snprintf(line, sizeof(line), "  %-14s %8llu / %llu",
                      actionName(static_cast<ActionKind>(i)),
                      static_cast<unsigned long long>(ran_[i][0]),
                      static_cast<unsigned long long>(ran_[i][1]));
        lines.push_back(line);
    }
    auto count = [this](Count what) { return std::to_string(counts_[std::size_t(what)]); };
    lines.push_back("frames: " + count(Count::CameraFrames) + " sent by the cameras, " +
                    count(Count::Pictures) + " delivered with a picture, " +
                    count(Count::EmptyFrames) + " empty");
    lines.push_back("faults injected: " + count(Count::CameraFaults) + " camera, " +
                    count(Count::AllocationFaults) + " allocation armed, " +
                    std::to_string(injectedAllocations) + " allocation failed");
    lines.push_back("faults found: " + std::to_string(findings_.size()));
    for (const std::string& finding : findings_) lines.push_back("  " + finding);
    return lines;
}

}  // namespace bayercam::chaos
