#include "host/kernel/failure_injection.h"

#include <mutex>
#include <optional>
#include <string>

#include "host/kernel/verifier.h"

namespace bayercam::host::injection {
namespace {

struct Plan {
    std::mutex lock;
    std::optional<std::size_t> remaining;  // guarded by lock: allocations before the failing one
    std::optional<ULONG> tag;              // guarded by lock: only this tag counts when set
    std::size_t injected = 0;              // guarded by lock
    std::shared_ptr<const CountFilter> filter;  // guarded by lock
};

Plan& plan() {
    static Plan instance;
    return instance;
}

void arm(std::optional<ULONG> tag, std::size_t n) noexcept {
    Plan& p = plan();
    std::lock_guard guard(p.lock);
    if (n == 0) {
        p.remaining.reset();
        return;
    }
    p.remaining = n - 1;
    p.tag = tag;
}

}  // namespace

void failNth(std::size_t n) noexcept { arm(std::nullopt, n); }

void failNthOfTag(ULONG tag, std::size_t n) noexcept { arm(tag, n); }

void setCountFilter(std::shared_ptr<const CountFilter> filter) noexcept {
    Plan& p = plan();
    std::lock_guard guard(p.lock);
    p.filter = std::move(filter);
}

void reset() noexcept {
    Plan& p = plan();
    std::lock_guard guard(p.lock);
    p.remaining.reset();
    p.tag.reset();
    p.filter.reset();
    p.injected = 0;
}

std::size_t injectedCount() noexcept {
    Plan& p = plan();
    std::lock_guard guard(p.lock);
    return p.injected;
}

bool shouldFail(ULONG tag) noexcept {
    Plan& p = plan();
    std::shared_ptr<const CountFilter> filter;
    {
        std::lock_guard guard(p.lock);
        if (!p.remaining || (p.tag && *p.tag != tag)) return false;
        filter = p.filter;
    }
    if (filter && !(*filter)(tag)) return false;
    std::lock_guard guard(p.lock);
    // Another thread may have taken the failure, or the test re-armed, while the filter ran.
    if (!p.remaining || (p.tag && *p.tag != tag)) return false;
    if (*p.remaining > 0) {
        --*p.remaining;
        return false;
    }
    p.remaining.reset();
    ++p.injected;
    return true;
}

std::size_t walkAllocationFailures(const std::function<void(std::size_t failing)>& operation) {
    // A bound far above any real operation's allocation count: reaching it means the
    // operation allocates without end, which no test should wait for.
    constexpr std::size_t kMaxRuns = 100000;
    for (std::size_t failing = 1; failing <= kMaxRuns; ++failing) {
        reset();
        failNth(failing);
        operation(failing);
        const bool clean = injectedCount() == 0;
        reset();
        if (clean) return failing;
    }
    verifier::report("allocation-failure walk: the operation still allocates after " +
                     std::to_string(kMaxRuns) + " runs");
    return kMaxRuns;
}

}  // namespace bayercam::host::injection
