// Conformance of pins: creation with a connection format, instance limits, format changes,
// private descriptor copies owned by the pin, and the state walk one step at a time.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "host/kernel/failure_injection.h"
#include "host/kernel/pool.h"
#include "tests/host/ks/ks_fixture.h"

namespace bayercam::host::ks::testing {
namespace {

using namespace testminidriver;

std::vector<std::pair<LONG, LONG>> stateSteps() {
    std::vector<std::pair<LONG, LONG>> steps;
    for (ULONG i = 0; i < testDriver.eventCount; ++i) {
        const Event& e = testDriver.events[i];
        if (e.kind == kSetDeviceState) steps.emplace_back(e.first, e.second);
    }
    return steps;
}

using PinCreation = KsHostTest;

TEST_F(PinCreation, InitialFormatGoesToSetDataFormatWithoutAnOldOneBeforeCreate) {
    ASSERT_NO_FATAL_FAILURE(connectPin());
    ASSERT_GE(testDriver.eventCount, 4u);
    EXPECT_EQ(testDriver.events[3].kind, kSetDataFormat);
    EXPECT_EQ(testDriver.events[3].first, 4096) << "the connection format's sample size";
    EXPECT_EQ(testDriver.events[3].second, 0) << "no old format at creation";
    EXPECT_EQ(testDriver.events[4].kind, kPinCreate);
    EXPECT_EQ(testDriver.events[4].first, TRUE) << "KsGetFilterFromIrp finds the pin's filter";
    PKSPIN pin = client_->pinObject(pin_);
    EXPECT_EQ(pin->DeviceState, KSSTATE_STOP);
    EXPECT_EQ(pin->ConnectionFormat->SampleSize, 4096u);
    EXPECT_EQ(KsPinGetParentFilter(pin), client_->filterObject(filter_));
    EXPECT_EQ(KsPinGetDevice(pin), client_->deviceObject(device_));
}

TEST_F(PinCreation, OneInstanceIsPossible) {
    ASSERT_NO_FATAL_FAILURE(connectPin());
    KSDATAFORMAT format = testFormat();
    KsPinHandle second = nullptr;
    EXPECT_EQ(client_->createPin(filter_, 0, &format, &second), STATUS_UNSUCCESSFUL);
    ASSERT_EQ(client_->closePin(pin_), STATUS_SUCCESS);
    EXPECT_EQ(client_->createPin(filter_, 0, &format, &second), STATUS_SUCCESS);
}

TEST_F(PinCreation, FormatsOutsideTheRangesOrRefusedCreateNoPin) {
    ASSERT_NO_FATAL_FAILURE(attachAndOpen());
    KSDATAFORMAT other = testFormat();
    other.SubFormat = MEDIASUBTYPE_RGB32;
    EXPECT_EQ(client_->createPin(filter_, 0, &other, &pin_), STATUS_NO_MATCH);
    KSDATAFORMAT refused = testFormat(kRefusedSampleSize);
    EXPECT_EQ(client_->createPin(filter_, 0, &refused, &pin_), STATUS_NO_MATCH);
    EXPECT_EQ(CountEvents(kPinCreate), 0u);
    KSDATAFORMAT fine = testFormat();
    EXPECT_EQ(client_->createPin(filter_, 0, &fine, &pin_), STATUS_SUCCESS)
        << "the refused attempts took no instance";
}

TEST_F(PinCreation, DescriptorEditsArePrivateToThePinAndFreedWithIt) {
    ASSERT_NO_FATAL_FAILURE(connectPin());
    PKSPIN pin = client_->pinObject(pin_);
    EXPECT_NE(pin->Descriptor, TestPinDescriptor());
    EXPECT_NE(pin->Descriptor->AllocatorFraming, TestPinDescriptor()->AllocatorFraming);
    EXPECT_EQ(pin->Descriptor->AllocatorFraming->FramingItem[0].Frames, 3u);
    EXPECT_EQ(TestPinDescriptor()->AllocatorFraming->FramingItem[0].Frames, 2u);
    EXPECT_EQ(pin->Descriptor->IntersectHandler, TestPinDescriptor()->IntersectHandler);
    EXPECT_EQ(pool::usage(kTestEditTag).blocks, 2u);
    ASSERT_EQ(client_->closePin(pin_), STATUS_SUCCESS);
    EXPECT_EQ(pool::usage(kTestEditTag).blocks, 0u);
}

TEST_F(PinCreation, EveryAllocationFailureInCreationLeavesNothingBehind) {
    ASSERT_NO_FATAL_FAILURE(attachAndOpen());
    KSDATAFORMAT format = testFormat();
    std::size_t runs = injection::walkAllocationFailures([&](std::size_t) {
        KsPinHandle pin = nullptr;
        if (NT_SUCCESS(client_->createPin(filter_, 0, &format, &pin))) client_->closePin(pin);
    });
    EXPECT_GE(runs, 4u) << "request, context, bag entries and descriptor copies all allocate";
}

using PinFormat = KsHostTest;

TEST_F(PinFormat, ChangeGivesTheOldFormatToSetDataFormat) {
    ASSERT_NO_FATAL_FAILURE(connectPin());
    KSDATAFORMAT next = testFormat(8192);
    ASSERT_EQ(client_->setPinFormat(pin_, &next), STATUS_SUCCESS);
    const Event& e = testDriver.events[testDriver.eventCount - 1];
    EXPECT_EQ(e.kind, kSetDataFormat);
    EXPECT_EQ(e.first, 8192);
    EXPECT_EQ(e.second, 1) << "the old format is passed on a change";
    EXPECT_EQ(client_->pinObject(pin_)->ConnectionFormat->SampleSize, 8192u);
}

TEST_F(PinFormat, RefusedChangeKeepsTheOldFormat) {
    ASSERT_NO_FATAL_FAILURE(connectPin());
    KSDATAFORMAT refused = testFormat(kRefusedSampleSize);
    EXPECT_EQ(client_->setPinFormat(pin_, &refused), STATUS_NO_MATCH);
    EXPECT_EQ(client_->pinObject(pin_)->ConnectionFormat->SampleSize, 4096u);
    KSDATAFORMAT other = testFormat();
    other.MajorFormat = KSCATEGORY_VIDEO;
    ULONG before = testDriver.eventCount;
    EXPECT_EQ(client_->setPinFormat(pin_, &other), STATUS_NO_MATCH);
    EXPECT_EQ(testDriver.eventCount, before) << "a format outside the ranges reaches no callback";
}

using StateWalk = KsHostTest;

TEST_F(StateWalk, StopToRunAndBackWalksEveryStep) {
    ASSERT_NO_FATAL_FAILURE(connectPin());
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_STOP), STATUS_SUCCESS);
    const std::vector<std::pair<LONG, LONG>> expected = {
        {KSSTATE_ACQUIRE, KSSTATE_STOP},  {KSSTATE_PAUSE, KSSTATE_ACQUIRE},
        {KSSTATE_RUN, KSSTATE_PAUSE},     {KSSTATE_PAUSE, KSSTATE_RUN},
        {KSSTATE_ACQUIRE, KSSTATE_PAUSE}, {KSSTATE_STOP, KSSTATE_ACQUIRE}};
    EXPECT_EQ(stateSteps(), expected);
    EXPECT_EQ(client_->pinObject(pin_)->DeviceState, KSSTATE_STOP);
}

TEST_F(StateWalk, AFailingStepEndsTheWalkInTheLastStateReached) {
    ASSERT_NO_FATAL_FAILURE(connectPin());
    testDriver.failStepTo = KSSTATE_RUN;
    testDriver.failStepStatus = STATUS_INSUFFICIENT_RESOURCES;
    EXPECT_EQ(client_->setPinState(pin_, KSSTATE_RUN), STATUS_INSUFFICIENT_RESOURCES);
    KSSTATE state = KSSTATE_RUN;
    ASSERT_EQ(client_->getPinState(pin_, &state), STATUS_SUCCESS);
    EXPECT_EQ(state, KSSTATE_PAUSE);
    EXPECT_EQ(stateSteps().size(), 3u) << "acquire, pause, then the failed run";

    testDriver.failStepStatus = STATUS_SUCCESS;
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(stateSteps().back(), std::make_pair(LONG{KSSTATE_RUN}, LONG{KSSTATE_PAUSE}));
}

TEST_F(StateWalk, AFailingStepDownStopsTheWalkButCloseStillStops) {
    ASSERT_NO_FATAL_FAILURE(connectPin());
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_PAUSE), STATUS_SUCCESS);
    testDriver.failStepTo = KSSTATE_ACQUIRE;
    testDriver.failStepStatus = STATUS_UNSUCCESSFUL;
    EXPECT_EQ(client_->setPinState(pin_, KSSTATE_STOP), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(client_->pinObject(pin_)->DeviceState, KSSTATE_PAUSE);
    ASSERT_EQ(client_->closePin(pin_), STATUS_SUCCESS);
    EXPECT_EQ(stateSteps().back(), std::make_pair(LONG{KSSTATE_STOP}, LONG{KSSTATE_ACQUIRE}));
    EXPECT_EQ(testDriver.clock, nullptr) << "the forced stop step still reached the minidriver";
}

TEST_F(StateWalk, TheSameStateCallsNothingAndUnknownStatesAreRefused) {
    ASSERT_NO_FATAL_FAILURE(connectPin());
    EXPECT_EQ(client_->setPinState(pin_, KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_TRUE(stateSteps().empty());
    EXPECT_EQ(client_->setPinState(pin_, static_cast<KSSTATE>(7)), STATUS_INVALID_PARAMETER);
}

}  // namespace
}  // namespace bayercam::host::ks::testing
