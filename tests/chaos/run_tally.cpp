#include "tests/chaos/run_tally.h"

#include <cstdio>

namespace bayercam::chaos {

std::string statusName(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
    return text;
}

void RunTally::ran(ActionKind kind) {
    std::lock_guard lock(mutex_);
    ++actions_[static_cast<std::size_t>(kind)].ran;
}

void RunTally::skipped(ActionKind kind) {
    std::lock_guard lock(mutex_);
    ++actions_[static_cast<std::size_t>(kind)].skipped;
}

void RunTally::status(NTSTATUS status) {
    std::lock_guard lock(mutex_);
    ++statuses_[static_cast<ULONG>(status)];
}

void RunTally::frame(bool carriedPicture) {
    std::lock_guard lock(mutex_);
    ++(carriedPicture ? pictures_ : emptyFrames_);
}

void RunTally::cameraFault() {
    std::lock_guard lock(mutex_);
    ++cameraFaults_;
}

void RunTally::cameraFramesSent(std::uint64_t frames) {
    std::lock_guard lock(mutex_);
    cameraFrames_ += frames;
}

void RunTally::allocationFaultArmed() {
    std::lock_guard lock(mutex_);
    ++allocationFaults_;
}

void RunTally::finding(std::string what) {
    std::lock_guard lock(mutex_);
    findings_.push_back(std::move(what));
}

std::size_t RunTally::findings() const {
    std::lock_guard lock(mutex_);
    return findings_.size();
}

std::vector<std::string> RunTally::summary(std::size_t injectedAllocations) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    lines.push_back("actions (ran / skipped):");
    for (std::size_t i = 0; i < kActionKinds; ++i) {
        char line[96];
        std::snprintf(line, sizeof(line), "  %-14s %8llu / %llu",
                      actionName(static_cast<ActionKind>(i)),
                      static_cast<unsigned long long>(actions_[i].ran),
                      static_cast<unsigned long long>(actions_[i].skipped));
        lines.push_back(line);
    }
    lines.push_back("frames: " + std::to_string(cameraFrames_) + " sent by the cameras, " +
                    std::to_string(pictures_) + " delivered with a picture, " +
                    std::to_string(emptyFrames_) + " empty");
    lines.push_back("faults injected: " + std::to_string(cameraFaults_) + " camera, " +
                    std::to_string(allocationFaults_) + " allocation armed, " +
                    std::to_string(injectedAllocations) + " allocation failed");
    lines.push_back("statuses seen:");
    for (const auto& [status, count] : statuses_) {
        lines.push_back("  " + statusName(static_cast<NTSTATUS>(status)) + " " +
                        std::to_string(count));
    }
    lines.push_back("faults found: " + std::to_string(findings_.size()));
    for (const std::string& finding : findings_) lines.push_back("  " + finding);
    return lines;
}

}  // namespace bayercam::chaos
