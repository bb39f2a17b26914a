// The seeded fault schedule: repeatable decisions from a seed, the rate and the kinds it keeps
// to, and the knob it arms on a camera from its own thread.
#include "sim/fault_schedule.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace bayercam::sim {
namespace {

// Each draw as kind and bytes; kFaultKinds when nothing was armed.
std::vector<std::pair<std::size_t, std::size_t>> draws(FaultSchedule& schedule, int count) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    for (int i = 0; i < count; ++i) {
        auto fault = schedule.draw();
        out.emplace_back(fault ? std::size_t(fault->kind) : kFaultKinds, fault ? fault->bytes : 0);
    }
    return out;
}

TEST(FaultScheduleTest, TheSeedDecidesTheFaultsAndTheRateHowMany) {
    FaultSchedule first(1234, 0.25), again(1234, 0.25), other(1235, 0.25);
    const auto a = draws(first, 4000);
    EXPECT_EQ(a, draws(again, 4000));
    EXPECT_NE(a, draws(other, 4000));
    EXPECT_NEAR(double(first.armedTotal()), 1000.0, 120.0);
    FaultSchedule never(7, 0.0);
    draws(never, 100);
    EXPECT_EQ(never.armedTotal(), 0u);
}

TEST(FaultScheduleTest, EveryKindComesUpUnlessKindsAreChosen) {
    FaultSchedule every(99, 1.0);
    for (auto [kind, bytes] : draws(every, 2000)) {
        const bool isShort =
            FaultKind(kind) == FaultKind::ShortReply || FaultKind(kind) == FaultKind::ShortChunk;
        EXPECT_EQ(bytes > 0, isShort) << faultName(FaultKind(kind));
        if (FaultKind(kind) == FaultKind::ShortReply) {
            EXPECT_LT(bytes, kCommandPacketBytes);
        }
    }
    for (std::size_t k = 0; k < kFaultKinds; ++k) {
        EXPECT_GT(every.armed(FaultKind(k)), 100u) << faultName(FaultKind(k));
    }
    FaultSchedule chosen(5, 1.0, {FaultKind::FailChunk, FaultKind::NeverReply});
    draws(chosen, 200);
    EXPECT_GT(chosen.armed(FaultKind::FailChunk), 0u);
    EXPECT_EQ(chosen.armed(FaultKind::FailChunk) + chosen.armed(FaultKind::NeverReply), 200u);
}

// Its ticks are counted by the hardening test that runs under it; here, that they reach the camera.
TEST(FaultScheduleTest, TheThreadArmsTheCamerasKnob) {
    SimulatedCamera camera;
    FaultSchedule schedule(11, 1.0, {FaultKind::ShortChunk});
    {
        FaultScheduleThread thread(schedule, camera, std::chrono::microseconds(500));
        for (int i = 0; i < 2000 && schedule.armedTotal() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    EXPECT_GT(camera.faults().shortChunkBytes.load(), 0u);
}

}  // namespace
}  // namespace bayercam::sim
