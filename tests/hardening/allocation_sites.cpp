#include "tests/hardening/allocation_sites.h"

#include <execinfo.h>

#include <cstdlib>

#include "host/kernel/pool.h"

namespace bayercam::testing {
namespace {

// Deep enough, past the allocator's own frames, to tell apart the driver's callers of a shared
// helper (the command sent by SetGlobalGain from the one sent by SetExposure).
constexpr int kCallDepth = 16;

std::uint64_t mix(std::uint64_t hash, std::uint64_t value) {
    // FNV-1a over the eight bytes of value.
    for (int i = 0; i < 8; ++i) {
        hash ^= (value >> (8 * i)) & 0xFF;
        hash *= 0x100000001B3ull;
    }
    return hash;
}

constexpr const char* kStepNames[kLifeSteps] = {
    "load",         "attach",      "open filter", "intersect",   "create pin", "acquire",
    "pause",        "run",         "frames",      "pause again", "stop",       "close pin",
    "close filter", "stop device", "detach",      "unload",
};

}  // namespace

const char* stepName(LifeStep step) { return kStepNames[std::size_t(step)]; }

bool AllocationSites::counts(ULONG tag) {
    const int stepIndex = step_.load();
    if (stepIndex < 0) return false;
    const LifeStep step = LifeStep(stepIndex);
    void* calls[kCallDepth];
    const int depth = backtrace(calls, kCallDepth);
    std::uint64_t key = mix(mix(0xCBF29CE484222325ull, std::uint64_t(step)), tag);
    for (int i = 0; i < depth; ++i) key = mix(key, reinterpret_cast<std::uintptr_t>(calls[i]));
    const bool lifeThread = std::this_thread::get_id() == lifeThread_.load();
    key = mix(key, lifeThread ? 1 : 2);
    std::lock_guard guard(lock_);
    if (++seen_[key] > (lifeThread ? lifeThreadRepeats_ : otherThreadRepeats_)) return false;
    counted_.emplace(counted_.size() + 1,
                     Counted{step, tag, std::vector<void*>(calls, calls + depth)});
    return true;
}

std::string AllocationSites::describe(std::size_t n) const {
    std::lock_guard guard(lock_);
    auto it = counted_.find(n);
    if (it == counted_.end()) return "allocation " + std::to_string(n) + " was not counted";
    const Counted& c = it->second;
    std::string text = "allocation " + std::to_string(n) + " in step '" + stepName(c.step) +
                       "', tag '" + host::pool::tagName(c.tag) +
                       "', called from (addr2line -f -C -e PROGRAM OFFSET names each):\n";
    char** names = backtrace_symbols(c.calls.data(), int(c.calls.size()));
    for (std::size_t i = 0; names != nullptr && i < c.calls.size(); ++i) {
        text += std::string("    ") + names[i] + "\n";
    }
    std::free(names);
    return text;
}

}  // namespace bayercam::testing
