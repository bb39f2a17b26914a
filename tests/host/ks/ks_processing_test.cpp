// Conformance of pin processing: asynchronous attempts, one pass at a time, none lost, only in
// RUN; the leading-edge stream pointer and eject; the reference clock. These tests run threads:
// label concurrency.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/host/ks/ks_fixture.h"

namespace bayercam::host::ks::testing {
namespace {

using namespace testminidriver;
using namespace std::chrono_literals;

LONG readCounter(LONG volatile* counter) { return InterlockedCompareExchange(counter, 0, 0); }

// Waits (up to a generous limit) until the counter reaches at least value.
bool waitForCounter(LONG volatile* counter, LONG value) {
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (readCounter(counter) < value) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(100us);
    }
    return true;
}

class Processing : public KsHostTest {
  protected:
    void SetUp() override {
        KsHostTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(connectPin());
        pin_ks_ = client_->pinObject(pin_);
    }
    void attempt() { KsPinAttemptProcessing(pin_ks_, TRUE); }
    PKSPIN pin_ks_ = nullptr;
};

// Attempts outside RUN are held for RUN; an attempt returns while its pass waits, and attempts
// during a pass coalesce into one more pass.
TEST_F(Processing, AttemptsAreHeldForRunAndCoalesceDuringAPass) {
    KEVENT gate;
    KeInitializeEvent(&gate, NotificationEvent, FALSE);
    testDriver.passGate = &gate;
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_PAUSE), STATUS_SUCCESS);
    attempt();
    attempt();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(readCounter(&testDriver.passes), 0);
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_TRUE(waitForCounter(&testDriver.passes, 1)) << "the held attempt runs in RUN";
    attempt();
    attempt();
    KeSetEvent(&gate, IO_NO_INCREMENT, FALSE);
    ASSERT_TRUE(waitForCounter(&testDriver.passes, 2));
    std::this_thread::sleep_for(20ms);
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(testDriver.passes, 2);
    EXPECT_EQ(testDriver.passesOutsideRun, 0);
}

TEST_F(Processing, PassesRunOneAtATimeAndTheLastAttemptIsNeverLost) {
    testDriver.passDelayUs = 50;
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([this] {
            for (int i = 0; i < 200; ++i) {
                attempt();
                if (i % 16 == 0) std::this_thread::sleep_for(50us);
            }
        });
    }
    for (auto& caller : callers) caller.join();
    for (int round = 0; round < 20; ++round) {
        LONG before = readCounter(&testDriver.passes);
        attempt();
        ASSERT_TRUE(waitForCounter(&testDriver.passes, before + 1)) << "round " << round;
    }
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(testDriver.mostActivePasses, 1);
    EXPECT_EQ(testDriver.passesOutsideRun, 0);
}

// Frames come back in order; a buffer queued again is the client's own memory, filled again with
// no fresh zeroed copy in between. The headers' contents are checked with the driver.
TEST_F(Processing, EjectedFramesComeBackInOrderAndRequeuedBuffersAreReused) {
    testDriver.ejectFrames = TRUE;
    ASSERT_EQ(client_->queueFrame(pin_, 64, true), STATUS_SUCCESS);
    ASSERT_EQ(client_->queueFrame(pin_, 32, false), STATUS_SUCCESS);
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    StreamFrame first, second, third;
    attempt();
    ASSERT_EQ(client_->waitFrame(pin_, 10s, &first), STATUS_SUCCESS);
    attempt();
    ASSERT_EQ(client_->waitFrame(pin_, 10s, &second), STATUS_SUCCESS);
    EXPECT_EQ(first.data[0], 1) << "written by pass 1";
    EXPECT_EQ(second.data[0], 2) << "written by pass 2";

    std::fill(first.data.begin(), first.data.end(), std::uint8_t{0xAB});
    const std::uint8_t* memory = first.data.data();
    ASSERT_EQ(client_->queueFrame(pin_, std::move(first.data), false), STATUS_SUCCESS);
    attempt();
    ASSERT_EQ(client_->waitFrame(pin_, 10s, &third), STATUS_SUCCESS);
    EXPECT_EQ(third.data.data(), memory) << "the client's own buffer came back";
    EXPECT_EQ(third.header.FrameExtent, 64u);
    EXPECT_EQ(third.data[0], 3) << "written by pass 3";
    EXPECT_EQ(third.data[63], 0xAB) << "bytes the pass did not write stay as the client left them";
    attempt();
    EXPECT_EQ(client_->waitFrame(pin_, 20ms, &third), STATUS_TIMEOUT) << "a pass without a frame";
}

TEST_F(Processing, PointersLeftLockedOrUnlockedTwiceAreReported) {
    KSSTREAM_POINTER stray{};
    stray.Pin = pin_ks_;
    KsStreamPointerUnlock(&stray, TRUE);
    expectVerifierFailure("not locked");
    testDriver.leaveFrameLocked = TRUE;
    ASSERT_EQ(client_->queueFrame(pin_, 16), STATUS_SUCCESS);
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    attempt();
    ASSERT_TRUE(waitForCounter(&testDriver.passes, 1));
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_STOP), STATUS_SUCCESS);
    expectVerifierFailure("still locked");
    StreamFrame frame;
    EXPECT_EQ(client_->waitFrame(pin_, 0ms, &frame), STATUS_SUCCESS) << "the frame still returns";
}

using ReferenceClock = Processing;

TEST_F(ReferenceClock, AdvancesMonotonicallyOnlyInRunAndRestartsAtStop) {
    PIKSREFERENCECLOCK clock = nullptr;
    ASSERT_EQ(KsPinGetReferenceClockInterface(pin_ks_, &clock), STATUS_SUCCESS);
    LONGLONG system = 0;
    EXPECT_EQ(clock->GetCorrelatedTime(&system), 0);
    EXPECT_GT(system, 0);
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    LONGLONG last = clock->GetTime();
    for (int i = 0; i < 10000; ++i) {
        LONGLONG now = clock->GetTime();
        ASSERT_GE(now, last) << "read " << i << ": not monotonic while running";
        last = now;
    }
    std::this_thread::sleep_for(2ms);
    LONGLONG running = clock->GetCorrelatedTime(&system);
    EXPECT_GE(running, 20000) << "2 ms of running in 100-ns units";
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_PAUSE), STATUS_SUCCESS);
    LONGLONG paused = clock->GetTime();
    EXPECT_GE(paused, running);
    std::this_thread::sleep_for(2ms);
    EXPECT_EQ(clock->GetTime(), paused) << "held while paused";
    KSSTATE state = KSSTATE_RUN;
    EXPECT_EQ(clock->GetState(&state), STATUS_SUCCESS);
    EXPECT_EQ(state, KSSTATE_PAUSE);
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_GE(clock->GetTime(), paused) << "continues from where it stood";
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(clock->GetTime(), 0);
    EXPECT_EQ(clock->Release(), 1u) << "the pin's own reference remains";
}

TEST_F(ReferenceClock, AReferenceKeptPastCloseIsAVerifierFailure) {
    testDriver.keepClock = TRUE;
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_ACQUIRE), STATUS_SUCCESS);
    ASSERT_NE(testDriver.clock, nullptr);
    ASSERT_EQ(client_->closePin(pin_), STATUS_SUCCESS);
    expectVerifierFailure("still referenced");
    EXPECT_EQ(testDriver.clock->Release(), 0u) << "the last reference frees the clock";
}

}  // namespace
}  // namespace bayercam::host::ks::testing
