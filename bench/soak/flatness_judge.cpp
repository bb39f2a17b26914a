#include "bench/soak/flatness_judge.h"

#include <set>
#include <sstream>

#include "bench/soak/process_memory.h"

namespace bayercam::soak {

namespace {

std::string describeUsage(const host::pool::TagUsage& usage) {
    std::ostringstream text;
    text << usage.blocks << (usage.blocks == 1 ? " block, " : " blocks, ") << usage.bytes
         << " bytes";
    return text.str();
}

host::pool::TagUsage usageOf(const host::pool::Snapshot& pool, ULONG tag) {
    auto found = pool.find(tag);
    return found == pool.end() ? host::pool::TagUsage{} : found->second;
}

}  // namespace

std::vector<std::string> poolDifferences(const host::pool::Snapshot& was,
                                         const host::pool::Snapshot& now) {
    std::set<ULONG> tags;
    for (const auto& [tag, usage] : was) tags.insert(tag);
    for (const auto& [tag, usage] : now) tags.insert(tag);
    std::vector<std::string> lines;
    for (ULONG tag : tags) {
        const host::pool::TagUsage before = usageOf(was, tag);
        const host::pool::TagUsage after = usageOf(now, tag);
        if (before == after) continue;
        std::ostringstream line;
        line << '\'' << host::pool::tagName(tag) << "' " << describeUsage(after) << " (was "
             << describeUsage(before) << ")";
        lines.push_back(line.str());
    }
    return lines;
}

std::string describePool(const host::pool::Snapshot& pool) {
    host::pool::TagUsage total;
    std::ostringstream tags;
    for (const auto& [tag, usage] : pool) {
        tags << (tags.tellp() == 0 ? ": '" : ", '") << host::pool::tagName(tag) << "' "
             << describeUsage(usage);
        total.blocks += usage.blocks;
        total.bytes += usage.bytes;
    }
    return describeUsage(total) + tags.str();
}

std::vector<std::string> FlatnessJudge::add(const Checkpoint& checkpoint) {
    std::vector<std::string> faults;
    if (checkpoint.newFrames == 0) {
        faults.push_back("no frame arrived between " + std::to_string(int(lastSeconds_)) +
                         " s and " + std::to_string(int(checkpoint.seconds)) + " s");
    }
    lastSeconds_ = checkpoint.seconds;
    if (!baseline_) {
        if (checkpoint.seconds >= warmUpSeconds_) baseline_ = checkpoint;
        return faults;
    }
    for (const std::string& line : poolDifferences(baseline_->pausedPool, checkpoint.pausedPool)) {
        faults.push_back("pool at " + std::to_string(int(checkpoint.seconds)) +
                         " s differs from its level after the warm-up: " + line);
    }
    if (checkpoint.residentKiB > baseline_->residentKiB + toleranceKiB_) {
        faults.push_back("resident memory grew from " + mebibytes(baseline_->residentKiB) +
                         " after the warm-up to " + mebibytes(checkpoint.residentKiB) + " at " +
                         std::to_string(int(checkpoint.seconds)) + " s (tolerance " +
                         mebibytes(toleranceKiB_) + ")");
    }
    return faults;
}

std::vector<std::string> FlatnessJudge::compareStopped(const host::pool::Snapshot& beforeStart,
                                                       const host::pool::Snapshot& afterStop) {
    std::vector<std::string> faults;
    for (const std::string& line : poolDifferences(beforeStart, afterStop)) {
        faults.push_back("pool after the stop differs from before the start: " + line);
    }
    return faults;
}

}  // namespace bayercam::soak
