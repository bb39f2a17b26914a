// IRQL, spin locks, interlocked increments, events and waits.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using SyncTest = testing::KernelTest;

NTSTATUS waitFor(KEVENT& event, LONGLONG ms = -1) {
    LARGE_INTEGER timeout{.QuadPart = -ms * 10'000};
    return KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, ms < 0 ? nullptr : &timeout);
}

// A new thread starts at PASSIVE_LEVEL whatever the level of the thread that made it; spin locks
// raise to DISPATCH_LEVEL and restore; a zero time-out poll is the one wait allowed there.
TEST_F(SyncTest, IrqlIsPerThreadAndSpinLocksRaiseAndRestoreIt) {
    KSPIN_LOCK outer, inner;
    KeInitializeSpinLock(&outer);
    KeInitializeSpinLock(&inner);
    const KIRQL old = KeAcquireSpinLockRaiseToDpc(&outer);
    KIRQL nested = PASSIVE_LEVEL;
    EXPECT_EQ(old, PASSIVE_LEVEL);
    KIRQL seenElsewhere = 0xFF;
    std::thread([&] { seenElsewhere = KeGetCurrentIrql(); }).join();
    EXPECT_EQ(seenElsewhere, PASSIVE_LEVEL);
    KeAcquireSpinLock(&inner, &nested);
    EXPECT_EQ(nested, DISPATCH_LEVEL);
    KeReleaseSpinLock(&inner, nested);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    EXPECT_EQ(waitFor(event, 0), STATUS_TIMEOUT);
    KeReleaseSpinLock(&outer, old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

// Unprotected read-modify-write under the lock: lost updates (and the thread sanitizer) would
// show any gap in mutual exclusion; the interlocked counter must lose nothing either.
TEST_F(SyncTest, SpinLocksAndInterlockedOperationsLoseNoUpdate) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    long counter = 0;
    volatile LONG interlocked = 0;
    constexpr int kPerThread = 20000;
    auto work = [&] {
        for (int i = 0; i < kPerThread; ++i) {
            KIRQL old;
            KeAcquireSpinLock(&lock, &old);
            counter = counter + 1;
            KeReleaseSpinLock(&lock, old);
            InterlockedIncrement(&interlocked);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 2L * kPerThread);
    EXPECT_EQ(interlocked, 2 * kPerThread);
}

TEST_F(SyncTest, WaitsNeverEndEarly) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    auto start = Clock::now();
    EXPECT_EQ(waitFor(event, 30), STATUS_TIMEOUT);
    EXPECT_GE(Clock::now() - start, 30ms);
    LARGE_INTEGER interval{.QuadPart = -20 * 10'000};
    start = Clock::now();
    EXPECT_EQ(KeDelayExecutionThread(KernelMode, FALSE, &interval), STATUS_SUCCESS);
    EXPECT_GE(Clock::now() - start, 20ms);
}

// A notification event releases every waiter and stays set; a synchronization event releases
// one waiter per set and resets.
TEST_F(SyncTest, EventsReleaseWaitersByTheirType) {
    for (EVENT_TYPE type : {NotificationEvent, SynchronizationEvent}) {
        KEVENT event;
        KeInitializeEvent(&event, type, FALSE);
        std::atomic<int> woken{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 3; ++i) {
            waiters.emplace_back([&] { woken += waitFor(event) == STATUS_SUCCESS; });
        }
        KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
        const auto limit = Clock::now() + 10s;
        while (woken == 0 && Clock::now() < limit) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(20ms);
        const bool notification = type == NotificationEvent;
        EXPECT_EQ(woken.load(), notification ? 3 : 1) << "type " << type;
        EXPECT_EQ(waitFor(event, 0), notification ? STATUS_SUCCESS : STATUS_TIMEOUT) << type;
        while (woken < 3) {
            KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
            std::this_thread::sleep_for(1ms);
        }
        for (auto& w : waiters) w.join();
    }
}

// Many events share the hashed wait buckets; a set of one must not release a waiter of another.
TEST_F(SyncTest, EventsInOneWaitBucketDoNotWakeEachOther) {
    std::vector<KEVENT> events(200);
    for (KEVENT& e : events) KeInitializeEvent(&e, NotificationEvent, FALSE);
    for (std::size_t i = 0; i < events.size(); i += 2) KeSetEvent(&events[i], 0, FALSE);
    for (std::size_t i = 0; i < events.size(); ++i) {
        ASSERT_EQ(waitFor(events[i], 0), i % 2 == 0 ? STATUS_SUCCESS : STATUS_TIMEOUT)
            << "event " << i;
    }
}

}  // namespace
}  // namespace bayercam::host
