// What the real driver would not show of the class driver: the device mutex and the device list
// under other threads; processing attempts held for RUN, coalesced and never lost; stream
// pointers and reference clocks misused; the reference clock's time. These tests run threads:
// label concurrency.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "host/ks/ks_client.h"
#include "tests/host/ks/test_minidriver.h"
#include "tests/support/kernel_test.h"

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

// A lower device standing for the bus, the test minidriver loaded and its pin connected.
class KsClassDriver : public bayercam::host::testing::KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        testDriver = TestDriver{};
        ASSERT_EQ(IoCreateDevice(&busDriver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &lower_),
                  STATUS_SUCCESS);
        ASSERT_EQ(client_->loadDriver(TestDriverEntry), STATUS_SUCCESS);
        ASSERT_EQ(client_->attachDevice(lower_, &device_), STATUS_SUCCESS);
        ASSERT_EQ(client_->openFilter(device_, L"GLOBAL", &filter_), STATUS_SUCCESS);
        KSDATAFORMAT format{};
        format.FormatSize = sizeof(KSDATAFORMAT);
        format.SampleSize = 4096;
        format.MajorFormat = KSDATAFORMAT_TYPE_VIDEO;
        format.SubFormat = kTestSubFormat;
        format.Specifier = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
        ASSERT_EQ(client_->createPin(filter_, 0, &format, &pin_), STATUS_SUCCESS);
        pin_ks_ = client_->pinObject(pin_);
    }
    void TearDown() override {
        client_.reset();
        if (lower_ != nullptr) IoDeleteDevice(lower_);
        KernelTest::TearDown();
    }
    void attempt() { KsPinAttemptProcessing(pin_ks_, TRUE); }

    DRIVER_OBJECT busDriver_{};
    PDEVICE_OBJECT lower_ = nullptr;
    std::unique_ptr<KsClient> client_ = std::make_unique<KsClient>();
    KsDeviceHandle device_ = nullptr;
    KsFilterHandle filter_ = nullptr;
    KsPinHandle pin_ = nullptr;
    PKSPIN pin_ks_ = nullptr;
};

// The driver creates its factory under the device mutex; a release without the acquire is what
// shows a forgotten acquire.
TEST_F(KsClassDriver, TheDeviceMutexExcludesOtherThreadsNestsAndReportsAStrayRelease) {
    PKSDEVICE device = client_->deviceObject(device_);
    KsAcquireDevice(device);
    KsAcquireDevice(device);
    std::atomic<bool> entered{false};
    std::thread other([&] {
        KsAcquireDevice(device);
        entered = true;
        KsReleaseDevice(device);
    });
    std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(entered) << "another thread got the mutex while it was held";
    KsReleaseDevice(device);
    KsReleaseDevice(device);
    other.join();
    EXPECT_TRUE(entered);
    KsReleaseDevice(device);
    expectVerifierFailure("KsReleaseDevice");
}

// Arrival and removal of one device come from the PnP thread while clients use another device
// from theirs: looking a handle up must not race with the list of devices changing.
TEST_F(KsClassDriver, ClientCallsOnOneDeviceRaceArrivalAndRemovalOfAnother) {
    const PKSDEVICE first = client_->deviceObject(device_);
    PDEVICE_OBJECT secondLower = nullptr;
    ASSERT_EQ(IoCreateDevice(&busDriver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &secondLower),
              STATUS_SUCCESS);
    std::atomic<bool> done{false};
    std::atomic<int> wrongLookups{0};
    std::thread user([&] {
        while (!done) {
            if (client_->deviceObject(device_) != first) ++wrongLookups;
        }
    });
    for (int i = 0; i < 200; ++i) {
        KsDeviceHandle second = nullptr;
        ASSERT_EQ(client_->attachDevice(secondLower, &second), STATUS_SUCCESS) << "round " << i;
        ASSERT_EQ(client_->detachDevice(second), STATUS_SUCCESS) << "round " << i;
    }
    done = true;
    user.join();
    IoDeleteDevice(secondLower);
    EXPECT_EQ(wrongLookups, 0) << "lookups of the first device that did not find it";
}

// Attempts outside RUN are held for RUN; an attempt returns while its pass waits, and attempts
// during a pass coalesce into one more pass.
TEST_F(KsClassDriver, AttemptsAreHeldForRunAndCoalesceDuringAPass) {
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

TEST_F(KsClassDriver, PassesRunOneAtATimeAndTheLastAttemptIsNeverLost) {
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

TEST_F(KsClassDriver, PointersLeftLockedOrUnlockedTwiceAreReported) {
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

TEST_F(KsClassDriver, ReferenceClockAdvancesMonotonicallyOnlyInRunAndRestartsAtStop) {
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

TEST_F(KsClassDriver, AReferenceClockKeptPastCloseIsReported) {
    PIKSREFERENCECLOCK clock = nullptr;
    ASSERT_EQ(KsPinGetReferenceClockInterface(pin_ks_, &clock), STATUS_SUCCESS);
    ASSERT_EQ(client_->closePin(pin_), STATUS_SUCCESS);
    expectVerifierFailure("still referenced");
    EXPECT_EQ(clock->Release(), 0u) << "the last reference frees the clock";
}

}  // namespace
}  // namespace bayercam::host::ks::testing
