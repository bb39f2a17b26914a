// The seeded fault schedule: repeatable decisions from a seed, the rate and the kinds it keeps
// to, and the knobs it arms on a camera.
#include "sim/fault_schedule.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace bayercam::sim {
namespace {

struct Draw {
    bool armed;
    FaultKind kind;
    std::size_t bytes;
    bool operator==(const Draw&) const = default;
};

std::vector<Draw> draws(FaultSchedule& schedule, int count) {
    std::vector<Draw> out;
    for (int i = 0; i < count; ++i) {
        auto fault = schedule.draw();
        out.push_back(fault ? Draw{true, fault->kind, fault->bytes}
                            : Draw{false, FaultKind::StallFramePipe, 0});
    }
    return out;
}

TEST(FaultScheduleTest, TheSameSeedGivesTheSameFaultsAndAnotherSeedOthers) {
    FaultSchedule first(1234, 0.3);
    FaultSchedule again(1234, 0.3);
    FaultSchedule other(1235, 0.3);
    std::vector<Draw> a = draws(first, 500);
    EXPECT_EQ(a, draws(again, 500));
    EXPECT_NE(a, draws(other, 500));
    EXPECT_EQ(first.seed(), 1234u);
}

TEST(FaultScheduleTest, TheRateIsTheShareOfOccasionsThatArmAFault) {
    FaultSchedule never(7, 0.0);
    FaultSchedule always(7, 1.0);
    FaultSchedule quarter(7, 0.25);
    for (int i = 0; i < 4000; ++i) {
        never.draw();
        always.draw();
        quarter.draw();
    }
    EXPECT_EQ(never.armedTotal(), 0u);
    EXPECT_EQ(always.armedTotal(), 4000u);
    EXPECT_NEAR(double(quarter.armedTotal()), 1000.0, 120.0);
}

TEST(FaultScheduleTest, EveryKindComesUpAndShortFaultsLeaveSomeBytes) {
    FaultSchedule schedule(99, 1.0);
    for (int i = 0; i < 2000; ++i) {
        auto fault = schedule.draw();
        ASSERT_TRUE(fault.has_value());
        if (fault->kind == FaultKind::ShortReply) {
            EXPECT_GE(fault->bytes, 1u);
            EXPECT_LT(fault->bytes, kCommandPacketBytes)
                << "a short reply is shorter than a packet";
        } else if (fault->kind == FaultKind::ShortChunk) {
            EXPECT_GE(fault->bytes, 1u);
        } else {
            EXPECT_EQ(fault->bytes, 0u) << faultName(fault->kind);
        }
    }
    for (std::size_t k = 0; k < kFaultKinds; ++k) {
        EXPECT_GT(schedule.armed(FaultKind(k)), 100u) << faultName(FaultKind(k));
    }
}

TEST(FaultScheduleTest, OnlyTheChosenKindsComeUp) {
    FaultSchedule schedule(5, 1.0, {FaultKind::FailChunk, FaultKind::NeverReply});
    for (int i = 0; i < 200; ++i) schedule.draw();
    EXPECT_GT(schedule.armed(FaultKind::FailChunk), 0u);
    EXPECT_GT(schedule.armed(FaultKind::NeverReply), 0u);
    EXPECT_EQ(schedule.armed(FaultKind::FailChunk) + schedule.armed(FaultKind::NeverReply), 200u);
}

TEST(FaultScheduleTest, ATickArmsTheCamerasKnob) {
    SimulatedCamera camera;
    FaultSchedule shortChunks(3, 1.0, {FaultKind::ShortChunk});
    auto fault = shortChunks.tick(camera);
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(camera.faults().shortChunkBytes.load(), fault->bytes);
    FaultSchedule replies(3, 1.0, {FaultKind::FailReply});
    replies.tick(camera);
    EXPECT_TRUE(camera.faults().failReply.load());
    FaultSchedule port(3, 1.0, {FaultKind::DisablePort});
    port.tick(camera);
    EXPECT_TRUE(camera.portState().connected);
    EXPECT_FALSE(camera.portState().enabled) << "disabled until a port reset";
    camera.resetPort();
    EXPECT_TRUE(camera.portState().enabled);
}

TEST(FaultScheduleTest, TheThreadTicksUntilItIsDestroyed) {
    SimulatedCamera camera;
    FaultSchedule schedule(11, 1.0, {FaultKind::NeverAnswer});
    {
        FaultScheduleThread thread(schedule, camera, std::chrono::microseconds(500));
        for (int i = 0; i < 2000 && schedule.armedTotal() < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_GE(schedule.armedTotal(), 3u) << "the thread ticks";
    }
    const std::uint64_t armedAtStop = schedule.armedTotal();
    EXPECT_TRUE(camera.faults().neverAnswer.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(schedule.armedTotal(), armedAtStop) << "no tick after the thread ended";
}

}  // namespace
}  // namespace bayercam::sim
