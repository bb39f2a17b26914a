// Conformance of the class driver's objects: device Add and Start, the object bags, the device
// mutex, filter factories freed on stop, filters, pins and their state walk.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "host/kernel/pool.h"
#include "tests/host/ks/ks_fixture.h"

namespace bayercam::host::ks::testing {
namespace {

using namespace testminidriver;

constexpr ULONG kContextTag = pool::makeTag("TdCx");

std::vector<EventKind> eventKinds() {
    std::vector<EventKind> kinds;
    for (ULONG i = 0; i < testDriver.eventCount; ++i) kinds.push_back(testDriver.events[i].kind);
    return kinds;
}

std::vector<std::pair<LONG, LONG>> stateSteps() {
    std::vector<std::pair<LONG, LONG>> steps;
    for (ULONG i = 0; i < testDriver.eventCount; ++i) {
        const Event& e = testDriver.events[i];
        if (e.kind == kSetDeviceState) steps.emplace_back(e.first, e.second);
    }
    return steps;
}

using KsDevice = KsHostTest;

TEST_F(KsDevice, LifeRunsTheCallbacksInOrderAndReleasesEachBagItemOnce) {
    KsClient unloaded;
    EXPECT_EQ(unloaded.attachDevice(lowerDevice_, &device_), STATUS_DEVICE_NOT_READY);
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    PKSDEVICE device = client_->deviceObject(device_);
    EXPECT_TRUE(device->Started);
    EXPECT_EQ(testDriver.events[1].first, STATUS_SUCCESS) << "factory creation in Start";
    EXPECT_EQ(testDriver.events[1].second, FALSE) << "Started while Start runs";

    ASSERT_EQ(client_->stopDevice(device_), STATUS_SUCCESS);
    EXPECT_EQ(client_->openFilter(device_, L"GLOBAL", &filter_), STATUS_DEVICE_NOT_READY)
        << "the factory is freed on stop";
    ASSERT_EQ(client_->startDevice(device_), STATUS_SUCCESS);
    EXPECT_EQ(testDriver.events[testDriver.eventCount - 1].first, STATUS_SUCCESS)
        << "the factory again under the same reference string";
    ASSERT_EQ(client_->openFilter(device_, L"GLOBAL", &filter_), STATUS_SUCCESS);
    EXPECT_EQ(client_->stopDevice(device_), STATUS_INVALID_DEVICE_STATE) << "a filter is open";
    ASSERT_EQ(client_->closeFilter(filter_), STATUS_SUCCESS);
    EXPECT_EQ(client_->closeFilter(filter_), STATUS_INVALID_HANDLE);
    ASSERT_EQ(client_->detachDevice(device_), STATUS_SUCCESS);
    const std::vector<EventKind> expected = {kAdd,
                                             kStart,
                                             kStop,
                                             kStart,
                                             kFilterCreate,
                                             kFilterClose,
                                             kStop,
                                             kReleaseSecondItem,
                                             kReleaseFirstItem};
    EXPECT_EQ(eventKinds(), expected) << "bag items go newest first, each once";
    EXPECT_EQ(pool::usage(kContextTag).blocks, 0u);
}

// The driver creates its factory under the device mutex; a release without the acquire is what
// shows a forgotten acquire.
TEST_F(KsDevice, TheDeviceMutexExcludesOtherThreadsNestsAndReportsAStrayRelease) {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    PKSDEVICE device = client_->deviceObject(device_);
    KsAcquireDevice(device);
    KsAcquireDevice(device);
    std::atomic<bool> entered{false};
    std::thread other([&] {
        KsAcquireDevice(device);
        entered = true;
        KsReleaseDevice(device);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
TEST_F(KsDevice, ClientCallsOnOneDeviceRaceArrivalAndRemovalOfAnother) {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
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

TEST_F(KsDevice, DetachAndClientDestructionCloseWhatIsLeftOpen) {
    for (bool destroyClient : {false, true}) {
        ResetTestDriver();
        ASSERT_NO_FATAL_FAILURE(connectPin());
        ASSERT_EQ(client_->setPinState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
        ASSERT_EQ(client_->queueFrame(pin_, 64), STATUS_SUCCESS);
        if (destroyClient) {
            client_.reset();
        } else {
            ASSERT_EQ(client_->detachDevice(device_), STATUS_SUCCESS);
        }
        for (EventKind kind : {kPinClose, kFilterClose, kStop, kReleaseFirstItem}) {
            EXPECT_EQ(CountEvents(kind), 1u) << "event " << kind << " client " << destroyClient;
        }
        EXPECT_EQ(testDriver.clock, nullptr) << "the walk to stop released the clock";
    }
}

TEST_F(KsDevice, PinsTakeOnlyFormatsInTheirRangesAndOneInstance) {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    ASSERT_EQ(client_->openFilter(device_, L"GLOBAL", &filter_), STATUS_SUCCESS);
    KSDATAFORMAT other = testFormat();
    other.SubFormat = MEDIASUBTYPE_RGB32;
    EXPECT_EQ(client_->createPin(filter_, 0, &other, &pin_), STATUS_NO_MATCH);
    KSDATAFORMAT refused = testFormat(kRefusedSampleSize);
    EXPECT_EQ(client_->createPin(filter_, 0, &refused, &pin_), STATUS_NO_MATCH);
    EXPECT_EQ(CountEvents(kPinCreate), 0u);
    KSDATAFORMAT format = testFormat();
    ASSERT_EQ(client_->createPin(filter_, 0, &format, &pin_), STATUS_SUCCESS)
        << "the refused attempts took no instance";
    const Event& created = testDriver.events[testDriver.eventCount - 1];
    EXPECT_EQ(created.kind, kPinCreate);
    EXPECT_EQ(created.first, TRUE) << "KsGetFilterFromIrp finds the pin's filter";
    KsPinHandle second = nullptr;
    EXPECT_EQ(client_->createPin(filter_, 0, &format, &second), STATUS_UNSUCCESSFUL);

    KSDATAFORMAT next = testFormat(8192);
    ASSERT_EQ(client_->setPinFormat(pin_, &next), STATUS_SUCCESS);
    EXPECT_EQ(testDriver.events[testDriver.eventCount - 1].second, 1) << "the old format is given";
    EXPECT_EQ(client_->setPinFormat(pin_, &refused), STATUS_NO_MATCH);
    const ULONG before = testDriver.eventCount;
    EXPECT_EQ(client_->setPinFormat(pin_, &other), STATUS_NO_MATCH);
    EXPECT_EQ(testDriver.eventCount, before) << "a format outside the ranges reaches no callback";
    EXPECT_EQ(client_->pinObject(pin_)->ConnectionFormat->SampleSize, 8192u);
}

TEST_F(KsDevice, TheStateWalksOneStepAtATimeAndStopsAtAFailedStep) {
    ASSERT_NO_FATAL_FAILURE(connectPin());
    EXPECT_EQ(client_->setPinState(pin_, KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(client_->setPinState(pin_, static_cast<KSSTATE>(7)), STATUS_INVALID_PARAMETER);
    testDriver.failStepTo = KSSTATE_RUN;
    testDriver.failStepStatus = STATUS_INSUFFICIENT_RESOURCES;
    EXPECT_EQ(client_->setPinState(pin_, KSSTATE_RUN), STATUS_INSUFFICIENT_RESOURCES);
    KSSTATE state = KSSTATE_RUN;
    ASSERT_EQ(client_->getPinState(pin_, &state), STATUS_SUCCESS);
    EXPECT_EQ(state, KSSTATE_PAUSE) << "the last state reached";
    testDriver.failStepStatus = STATUS_SUCCESS;
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    testDriver.failStepTo = KSSTATE_ACQUIRE;
    testDriver.failStepStatus = STATUS_UNSUCCESSFUL;
    EXPECT_EQ(client_->setPinState(pin_, KSSTATE_STOP), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(client_->pinObject(pin_)->DeviceState, KSSTATE_PAUSE);
    ASSERT_EQ(client_->closePin(pin_), STATUS_SUCCESS);
    const std::vector<std::pair<LONG, LONG>> expected = {
        {KSSTATE_ACQUIRE, KSSTATE_STOP},  {KSSTATE_PAUSE, KSSTATE_ACQUIRE},
        {KSSTATE_RUN, KSSTATE_PAUSE},     {KSSTATE_RUN, KSSTATE_PAUSE},
        {KSSTATE_PAUSE, KSSTATE_RUN},     {KSSTATE_ACQUIRE, KSSTATE_PAUSE},
        {KSSTATE_ACQUIRE, KSSTATE_PAUSE}, {KSSTATE_STOP, KSSTATE_ACQUIRE}};
    EXPECT_EQ(stateSteps(), expected) << "close walks down again and forces the stop step";
    EXPECT_EQ(testDriver.clock, nullptr);
}

}  // namespace
}  // namespace bayercam::host::ks::testing
