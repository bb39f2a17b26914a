#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

using Clock = std::chrono::steady_clock;
using EventTest = testing::KernelTest;

LARGE_INTEGER relativeMs(LONGLONG ms) {
    LARGE_INTEGER t;
    t.QuadPart = -ms * 10'000;
    return t;
}

NTSTATUS waitFor(KEVENT& event, PLARGE_INTEGER timeout = nullptr) {
    return KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, timeout);
}

// Polls until the condition holds; the test fails (not hangs) when it never does.
template <class Condition>
bool eventually(Condition condition) {
    const auto limit = Clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (Clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// ---------------------------------------------------------------- state

TEST_F(EventTest, SetResetAndReadReturnPreviousState) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
    EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 0);
    EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 1);
    EXPECT_EQ(KeReadStateEvent(&event), 1);
    EXPECT_EQ(KeResetEvent(&event), 1);
    EXPECT_EQ(KeResetEvent(&event), 0);
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    KeClearEvent(&event);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
}

TEST_F(EventTest, InitialStateAndTypeLiveInTheHeader) {
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, TRUE);
    EXPECT_EQ(event.Header.Type, SynchronizationEvent);
    EXPECT_EQ(event.Header.SignalState, 1);
    EXPECT_EQ(waitFor(event), STATUS_SUCCESS);
    EXPECT_EQ(event.Header.SignalState, 0);
}

TEST_F(EventTest, UninitializedEventIsReported) {
    KEVENT event;
    std::memset(&event, 0xCD, sizeof event);
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    expectVerifierFailure("not an initialized event");
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    EXPECT_EQ(waitFor(event, &zero), STATUS_INVALID_PARAMETER);
    expectVerifierFailure("not an event or a thread");
}

// ---------------------------------------------------------------- time-outs

TEST_F(EventTest, WaitTimesOutWithoutReturningEarly) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    LARGE_INTEGER timeout = relativeMs(30);
    const auto start = Clock::now();
    EXPECT_EQ(waitFor(event, &timeout), STATUS_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
}

TEST_F(EventTest, AbsoluteTimeoutIsReported) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    LARGE_INTEGER absolute;
    absolute.QuadPart = 1;
    EXPECT_EQ(waitFor(event, &absolute), STATUS_INVALID_PARAMETER);
    expectVerifierFailure("absolute time-out");
}

TEST_F(EventTest, DelayDoesNotReturnEarly) {
    LARGE_INTEGER interval = relativeMs(20);
    const auto start = Clock::now();
    EXPECT_EQ(KeDelayExecutionThread(KernelMode, FALSE, &interval), STATUS_SUCCESS);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(20));
}

// ---------------------------------------------------------------- wake-ups

TEST_F(EventTest, NotificationEventReleasesEveryWaiterAndStaysSignalled) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (waitFor(event) == STATUS_SUCCESS) ++woken;
        });
    }
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    for (auto& w : waiters) w.join();
    EXPECT_EQ(woken.load(), 3);
    EXPECT_EQ(KeReadStateEvent(&event), 1);
}

TEST_F(EventTest, SynchronizationEventReleasesOneWaiterPerSetAndResets) {
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] {
            if (waitFor(event) == STATUS_SUCCESS) ++woken;
        });
    }
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    ASSERT_TRUE(eventually([&] { return woken.load() >= 1; }));
    // The released waiter consumed the signal: the other one keeps waiting.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(woken.load(), 1);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    for (auto& w : waiters) w.join();
    EXPECT_EQ(woken.load(), 2);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
}

TEST_F(EventTest, EventsInOneWaitBucketDoNotWakeEachOther) {
    // Many events share the hashed wait buckets; a set of one must not release a waiter of
    // another. A signalled event also answers a zero time-out poll at once.
    std::vector<KEVENT> events(200);
    for (KEVENT& e : events) KeInitializeEvent(&e, NotificationEvent, FALSE);
    for (std::size_t i = 0; i < events.size(); i += 2) KeSetEvent(&events[i], 0, FALSE);
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        ASSERT_EQ(waitFor(events[i], &zero), i % 2 == 0 ? STATUS_SUCCESS : STATUS_TIMEOUT)
            << "event " << i;
    }
}

}  // namespace
}  // namespace bayercam::host
