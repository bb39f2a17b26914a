// The soak's judgement of flatness: frames must keep arriving, and after the warm-up the pool
// level taken while paused and the resident memory are held to the first level past it.
#include <gtest/gtest.h>

#include "bench/soak/flatness_judge.h"

namespace bayercam::soak {
namespace {

constexpr ULONG kFrameTag = host::pool::makeTag("Tgno");
constexpr ULONG kUsbTag = host::pool::makeTag("Qvbz");

host::pool::Snapshot steadyPool() { return {{kFrameTag, {4, 4000}}, {kUsbTag, {3, 138}}}; }

Checkpoint at(double seconds, std::uint64_t residentKiB, host::pool::Snapshot pool = steadyPool(),
              std::uint64_t newFrames = 90) {
    return Checkpoint{seconds, newFrames, residentKiB, std::move(pool)};
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

TEST(FlatnessJudge, LevelsBeforeTheWarmUpEndsAreNotHeld) {
    FlatnessJudge judge(10, 1024);
    EXPECT_TRUE(judge.add(at(5, 30000, {{kFrameTag, {9, 9000}}})).empty());
    EXPECT_FALSE(judge.warmedUp());
    EXPECT_TRUE(judge.add(at(10, 40000)).empty());
    EXPECT_TRUE(judge.warmedUp()) << "the first checkpoint at the warm-up's end sets the levels";
    const std::vector<std::string> faults = judge.add(at(15, 40000 + 1024));
    EXPECT_TRUE(faults.empty()) << "growth up to the tolerance is flat:\n" << joined(faults);
}

TEST(FlatnessJudge, APoolLevelOtherThanAfterTheWarmUpIsAFaultNamingTheTag) {
    FlatnessJudge judge(0, 1024);
    ASSERT_TRUE(judge.add(at(5, 40000)).empty());
    host::pool::Snapshot grown = steadyPool();
    grown[kUsbTag] = {4, 184};
    const std::vector<std::string> faults = judge.add(at(10, 40000, grown));
    ASSERT_EQ(faults.size(), 1u) << joined(faults);
    EXPECT_NE(faults[0].find("'Qvbz' 4 blocks, 184 bytes (was 3 blocks, 138 bytes)"),
              std::string::npos)
        << faults[0];
    host::pool::Snapshot shrunk = steadyPool();
    shrunk.erase(kFrameTag);
    EXPECT_EQ(judge.add(at(15, 40000, shrunk)).size(), 1u) << "a tag that went away differs too";
    EXPECT_TRUE(judge.add(at(20, 40000)).empty()) << "back at the level";
}

TEST(FlatnessJudge, ResidentMemoryBeyondTheToleranceIsAFault) {
    FlatnessJudge judge(0, 1024);
    ASSERT_TRUE(judge.add(at(5, 40960)).empty());
    const std::vector<std::string> faults = judge.add(at(10, 40960 + 1025));
    ASSERT_EQ(faults.size(), 1u) << joined(faults);
    EXPECT_NE(faults[0].find("from 40.0 MiB after the warm-up to 41.0 MiB at 10 s"),
              std::string::npos)
        << faults[0];
}

TEST(FlatnessJudge, AnIntervalWithoutFramesIsAFaultEvenInTheWarmUp) {
    FlatnessJudge judge(100, 1024);
    const std::vector<std::string> faults = judge.add(at(5, 40000, steadyPool(), 0));
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(faults[0], "no frame arrived between 0 s and 5 s");
    EXPECT_TRUE(judge.add(at(10, 40000)).empty());
}

TEST(FlatnessJudge, ThePoolAfterTheStopMustBeThePoolBeforeTheStart) {
    EXPECT_TRUE(FlatnessJudge::compareStopped(steadyPool(), steadyPool()).empty());
    host::pool::Snapshot left = steadyPool();
    left[kFrameTag] = {5, 5000};
    const std::vector<std::string> faults = FlatnessJudge::compareStopped(steadyPool(), left);
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_NE(faults[0].find("'Tgno' 5 blocks, 5000 bytes (was 4 blocks, 4000 bytes)"),
              std::string::npos)
        << faults[0];
}

TEST(PoolDescription, TotalsThenEachTag) {
    EXPECT_EQ(describePool(steadyPool()),
              "7 blocks, 4138 bytes: 'Tgno' 4 blocks, 4000 bytes, 'Qvbz' 3 blocks, 138 bytes");
    EXPECT_EQ(describePool({}), "0 blocks, 0 bytes");
}

}  // namespace
}  // namespace bayercam::soak
