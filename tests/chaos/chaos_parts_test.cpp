// The chaos runner's own parts: a seed must replay the same actions, the log must keep what a
// hang report needs, the watchdog must fire only on an overrun, and the audit must see leaks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/kernel/pool.h"
#include "host/kernel/verifier.h"
#include "tests/chaos/action_catalogue.h"
#include "tests/chaos/action_log.h"
#include "tests/chaos/chaos_rng.h"
#include "tests/chaos/deadline_watchdog.h"
#include "tests/chaos/leak_audit.h"
#include "tests/support/kernel_test.h"

namespace bayercam::chaos {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> drawnKinds(LaneRole role, std::uint64_t seed, std::uint64_t lane, int n) {
    ChaosRng rng(seed, lane);
    std::vector<std::string> kinds;
    for (int i = 0; i < n; ++i) {
        const Action action = nextAction(role, rng);
        kinds.push_back(std::string(actionName(action.kind)) + "/" +
                        std::to_string(action.parameterSeed));
    }
    return kinds;
}

// --- The seed decides everything ---

TEST(ChaosSeed, TheSameSeedDrawsTheSameActionsAndParameters) {
    EXPECT_EQ(drawnKinds(LaneRole::Device, 42, 0, 500), drawnKinds(LaneRole::Device, 42, 0, 500));
    EXPECT_NE(drawnKinds(LaneRole::Device, 42, 0, 500), drawnKinds(LaneRole::Device, 43, 0, 500));
    EXPECT_NE(drawnKinds(LaneRole::Device, 42, 0, 500), drawnKinds(LaneRole::Device, 42, 2, 500))
        << "two lanes of one run draw different sequences";
}

TEST(ChaosSeed, BoundedDrawsStayInRangeAndReachBothEnds) {
    ChaosRng rng(7);
    std::set<std::int64_t> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::int64_t value = rng.between(-3, 3);
        ASSERT_GE(value, -3);
        ASSERT_LE(value, 3);
        seen.insert(value);
    }
    EXPECT_EQ(seen.size(), 7u) << "every value of [-3, 3] is drawn";
}

// --- Which lane draws what ---

TEST(ChaosCatalogue, TheDeviceLaneDrawsEveryDeviceActionAndNoIntersection) {
    ChaosRng rng(1);
    std::set<ActionKind> drawn;
    for (int i = 0; i < 20000; ++i) drawn.insert(nextAction(LaneRole::Device, rng).kind);
    EXPECT_EQ(drawn.size(), kActionKinds - 1) << "one kind is missing from the device lane";
    EXPECT_EQ(drawn.count(ActionKind::Intersect), 0u);
}

TEST(ChaosCatalogue, TheClientLaneNeverChangesTheDeviceOrTheStreamingPin) {
    ChaosRng rng(1);
    const std::set<ActionKind> allowed = {ActionKind::OpenFilter, ActionKind::CloseFilter,
                                          ActionKind::CreatePin,  ActionKind::PropertyFuzz,
                                          ActionKind::Intersect,  ActionKind::Idle};
    std::set<ActionKind> drawn;
    for (int i = 0; i < 5000; ++i) drawn.insert(nextAction(LaneRole::Client, rng).kind);
    EXPECT_EQ(drawn, allowed);
}

// --- The action log ---

TEST(ChaosActionLog, ARunningActionOutlivesNewerFinishedOnes) {
    ActionLog log(3, false);
    const auto hung = log.begin(0, 7, "take-frames");
    log.note(hung, "300ms");
    for (int i = 0; i < 5; ++i) log.end(log.begin(1, i, "property"), "STATUS_SUCCESS");
    const std::vector<std::string> lines = log.recent();
    ASSERT_EQ(lines.size(), 3u) << "the ring keeps its capacity";
    EXPECT_NE(lines[0].find("lane 0 #7 take-frames 300ms -> (running)"), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[2].find("lane 1 #4 property -> STATUS_SUCCESS"), std::string::npos) << lines[2];
}

TEST(ChaosActionLog, AnActionThatDidNotApplyLeavesTheRing) {
    ActionLog log(8, false);
    log.end(log.begin(0, 0, "attach"), "STATUS_SUCCESS");
    log.end(log.begin(0, 1, "close-pin"), "skipped", false);
    const std::vector<std::string> lines = log.recent();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("#0 attach"), std::string::npos) << lines[0];
}

// --- The deadline watchdog ---

TEST(ChaosWatchdog, AnOverrunIsReportedWithItsLaneAndAction) {
    std::atomic<int> lane{-100};
    std::string what;
    std::atomic<bool> fired{false};
    DeadlineWatchdog watchdog(50ms, [&](int l, const std::string& w) {
        if (fired.exchange(true)) return;
        what = w;
        lane = l;
    });
    watchdog.arm(3, "#12 detach");
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (lane == -100 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(5ms);
    watchdog.disarm(3);
    EXPECT_EQ(lane, 3);
    EXPECT_EQ(what, "#12 detach");
}

TEST(ChaosWatchdog, AnActionThatEndsInTimeIsNotReported) {
    std::atomic<int> overruns{0};
    DeadlineWatchdog watchdog(200ms, [&](int, const std::string&) { ++overruns; });
    for (int i = 0; i < 10; ++i) {
        Deadline deadline(watchdog, 1, "idle");
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(overruns, 0);
}

// --- The audit at the end of a run ---

class ChaosLeakAuditTest : public host::testing::KernelTest {};

TEST_F(ChaosLeakAuditTest, ABlockLeftInThePoolIsReportedWithItsTag) {
    const LeakAudit audit;
    void* block = ExAllocatePoolWithTag(NonPagedPool, 64, host::pool::makeTag("Chao"));
    ASSERT_NE(block, nullptr);
    const std::vector<std::string> lines = audit.check(10ms);
    ExFreePoolWithTag(block, host::pool::makeTag("Chao"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Chao"), std::string::npos) << lines[0];
    EXPECT_TRUE(audit.check(10ms).empty()) << "a freed block is no leak";
}

TEST_F(ChaosLeakAuditTest, AVerifierFailureLeftUnconsumedIsReported) {
    const LeakAudit audit;
    host::verifier::report("lock released twice");
    const std::vector<std::string> lines = audit.check(10ms);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "verifier: lock released twice");
}

}  // namespace
}  // namespace bayercam::chaos
