// Conformance of the class driver's device side: load, Add and Start, the device's object
// bag, filter factories freed on stop and created again, filter instances, removal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "host/kernel/failure_injection.h"
#include "host/kernel/pool.h"
#include "tests/host/ks/ks_fixture.h"

namespace bayercam::host::ks::testing {
namespace {

using namespace testminidriver;

constexpr ULONG kContextTag = pool::makeTag("TdCx");

using DeviceLifecycle = KsHostTest;

TEST_F(DeviceLifecycle, AttachRunsAddThenStartAndSetsStartedAfterwards) {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    ASSERT_EQ(testDriver.eventCount, 2u);
    EXPECT_EQ(testDriver.events[0].kind, kAdd);
    EXPECT_EQ(testDriver.events[1].kind, kStart);
    EXPECT_EQ(testDriver.events[1].first, STATUS_SUCCESS) << "factory creation in Start";
    EXPECT_EQ(testDriver.events[1].second, FALSE) << "Started while Start runs";
    PKSDEVICE device = client_->deviceObject(device_);
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(device->Started);
    EXPECT_NE(device->Context, nullptr);
    EXPECT_EQ(device->PhysicalDeviceObject, lowerDevice_);
    EXPECT_EQ(device->NextDeviceObject, lowerDevice_);
    ASSERT_NE(device->FunctionalDeviceObject, nullptr);
    EXPECT_EQ(device->FunctionalDeviceObject->DriverObject, client_->driverObject());
}

TEST_F(DeviceLifecycle, AttachBeforeLoadIsRefused) {
    KsClient unloaded;
    KsDeviceHandle device = nullptr;
    EXPECT_EQ(unloaded.attachDevice(lowerDevice_, &device), STATUS_DEVICE_NOT_READY);
}

TEST_F(DeviceLifecycle, RemovalReleasesBagItemsNewestFirstAndEachOnce) {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    EXPECT_EQ(pool::usage(kContextTag).blocks, 2u);
    testDriver.eventCount = 0;
    ASSERT_EQ(client_->detachDevice(device_), STATUS_SUCCESS);
    ASSERT_EQ(testDriver.eventCount, 3u);
    EXPECT_EQ(testDriver.events[0].kind, kStop);
    EXPECT_EQ(testDriver.events[1].kind, kReleaseSecondItem);
    EXPECT_EQ(testDriver.events[2].kind, kReleaseFirstItem);
    EXPECT_EQ(pool::usage(kContextTag).blocks, 0u);
}

TEST_F(DeviceLifecycle, FailedBagInsertionAddsNothing) {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    PKSDEVICE device = client_->deviceObject(device_);
    void* item = ExAllocatePoolWithTag(NonPagedPool, 8, kContextTag);
    ASSERT_NE(item, nullptr);
    injection::failNthOfTag(pool::makeTag("KsOb"), 1);
    EXPECT_EQ(KsAddItemToObjectBag(device->Bag, item, nullptr), STATUS_INSUFFICIENT_RESOURCES);
    ExFreePoolWithTag(item, kContextTag);  // still ours: the bag must not free it again
}

TEST_F(DeviceLifecycle, TheDeviceMutexExcludesOtherThreadsAndNestsInOne) {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    PKSDEVICE device = client_->deviceObject(device_);
    KsAcquireDevice(device);
    KsAcquireDevice(device);  // the platform's device mutex is recursive
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

TEST_F(DeviceLifecycle, ServicesGivenForeignObjectsAreVerifierFailures) {
    int notAnObject = 0;
    EXPECT_EQ(KsGetDevice(&notAnObject), nullptr);
    expectVerifierFailure("KsGetDevice");
    EXPECT_EQ(KsAddItemToObjectBag(&notAnObject, &notAnObject, nullptr), STATUS_INVALID_PARAMETER);
    expectVerifierFailure("KsAddItemToObjectBag");
    KSFILTER_DESCRIPTOR descriptor{};
    EXPECT_EQ(KsCreateFilterFactory(lowerDevice_, &descriptor, const_cast<PWSTR>(L"X"), nullptr, 0,
                                    nullptr, nullptr, nullptr),
              STATUS_INVALID_PARAMETER)
        << "a factory on anything but a KS device";
    expectVerifierFailure("KsCreateFilterFactory");
}

TEST_F(DeviceLifecycle, AnItemRemovedFromTheBagIsNotReleasedAgainAtRemoval) {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    PKSDEVICE device = client_->deviceObject(device_);
    EXPECT_EQ(KsRemoveItemFromObjectBag(device->Bag, device->Context, TRUE), 1u);
    EXPECT_EQ(CountEvents(kReleaseFirstItem), 1u);
    EXPECT_EQ(KsRemoveItemFromObjectBag(device->Bag, device->Context, TRUE), 0u);
    device->Context = nullptr;
    ASSERT_EQ(client_->detachDevice(device_), STATUS_SUCCESS);
    EXPECT_EQ(CountEvents(kReleaseFirstItem), 1u);
    EXPECT_EQ(CountEvents(kReleaseSecondItem), 1u);
}

using FilterFactories = KsHostTest;

TEST_F(FilterFactories, StopFreesTheFactoryAndStartCreatesItAgain) {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    ASSERT_EQ(client_->stopDevice(device_), STATUS_SUCCESS);
    EXPECT_FALSE(client_->deviceObject(device_)->Started);
    EXPECT_EQ(client_->openFilter(device_, L"GLOBAL", &filter_), STATUS_DEVICE_NOT_READY);

    ASSERT_EQ(client_->startDevice(device_), STATUS_SUCCESS);
    EXPECT_EQ(CountEvents(kStart), 2u);
    EXPECT_EQ(testDriver.events[testDriver.eventCount - 1].first, STATUS_SUCCESS)
        << "the second factory under the same reference string";
    EXPECT_EQ(client_->openFilter(device_, L"GLOBAL", &filter_), STATUS_SUCCESS);
}

TEST_F(FilterFactories, AFactoryWithoutFreeOnStopOutlivesTheStop) {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    PKSDEVICE device = client_->deviceObject(device_);
    PKSFILTERFACTORY kept = nullptr;
    ASSERT_EQ(
        KsCreateFilterFactory(device->FunctionalDeviceObject, TestFilterDescriptor(),
                              const_cast<PWSTR>(L"KEEP"), nullptr, 0, nullptr, nullptr, &kept),
        STATUS_SUCCESS);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(KsGetDevice(kept), device);
    ASSERT_EQ(client_->stopDevice(device_), STATUS_SUCCESS);
    ASSERT_EQ(client_->startDevice(device_), STATUS_SUCCESS);
    EXPECT_EQ(client_->openFilter(device_, L"KEEP", &filter_), STATUS_SUCCESS);
    EXPECT_EQ(client_->closeFilter(filter_), STATUS_SUCCESS);
}

TEST_F(FilterFactories, FactoriesGoByNameWhichMustBeUniqueAndKnown) {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    PKSDEVICE device = client_->deviceObject(device_);
    KSFILTER_DESCRIPTOR descriptor{};
    EXPECT_EQ(
        KsCreateFilterFactory(device->FunctionalDeviceObject, &descriptor,
                              const_cast<PWSTR>(L"GLOBAL"), nullptr, 0, nullptr, nullptr, nullptr),
        STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(client_->openFilter(device_, L"OTHER", &filter_), STATUS_OBJECT_NAME_NOT_FOUND);
}

using FilterInstances = KsHostTest;

TEST_F(FilterInstances, EachOpenGetsItsOwnContextAndTheDevice) {
    ASSERT_NO_FATAL_FAILURE(attachAndOpen());
    KsFilterHandle second = nullptr;
    ASSERT_EQ(client_->openFilter(device_, L"GLOBAL", &second), STATUS_SUCCESS);
    PKSFILTER a = client_->filterObject(filter_);
    PKSFILTER b = client_->filterObject(second);
    EXPECT_NE(a->Context, nullptr);
    EXPECT_NE(a->Context, b->Context);
    EXPECT_EQ(KsFilterGetDevice(a), client_->deviceObject(device_));
    EXPECT_EQ(KsGetDevice(b), client_->deviceObject(device_));
    EXPECT_EQ(testDriver.events[2].kind, kFilterCreate);
    EXPECT_EQ(testDriver.events[2].first, TRUE) << "KsGetFilterFromIrp in Create";
    EXPECT_EQ(client_->closeFilter(second), STATUS_SUCCESS);
    EXPECT_EQ(CountEvents(kFilterClose), 1u);
    EXPECT_EQ(client_->closeFilter(second), STATUS_INVALID_HANDLE);
}

TEST_F(FilterInstances, StopIsRefusedWhileAFilterIsOpen) {
    ASSERT_NO_FATAL_FAILURE(attachAndOpen());
    EXPECT_EQ(client_->stopDevice(device_), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(CountEvents(kStop), 0u);
}

TEST_F(FilterInstances, FailedCreateLeavesNoFilterAndNoMemory) {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    const pool::TagUsage before = pool::usage(kContextTag);
    injection::failNthOfTag(kContextTag, 1);
    EXPECT_EQ(client_->openFilter(device_, L"GLOBAL", &filter_), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(pool::usage(kContextTag), before);
    EXPECT_EQ(client_->stopDevice(device_), STATUS_SUCCESS) << "no filter may be left open";
}

using TwoDevices = KsHostTest;

// Arrival and removal of one device come from the PnP thread while clients use another device
// from theirs: looking a handle up must not race with the list of devices changing.
TEST_F(TwoDevices, ClientCallsOnOneDeviceRaceArrivalAndRemovalOfAnother) {
    ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
    const PKSDEVICE first = client_->deviceObject(device_);
    ASSERT_NE(first, nullptr);
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

using Teardown = KsHostTest;

TEST_F(Teardown, DetachClosesPinsAndFiltersLeftOpenAndFreesEverything) {
    ASSERT_NO_FATAL_FAILURE(connectPin());
    ASSERT_EQ(client_->setPinState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_EQ(client_->queueFrame(pin_, 64), STATUS_SUCCESS);
    ASSERT_EQ(client_->detachDevice(device_), STATUS_SUCCESS);
    EXPECT_EQ(CountEvents(kPinClose), 1u);
    EXPECT_EQ(CountEvents(kFilterClose), 1u);
    EXPECT_EQ(CountEvents(kReleaseFirstItem), 1u);
    EXPECT_EQ(testDriver.clock, nullptr) << "the walk to stop released the clock";
    // The fixture checks that pool, requests and device objects are back to empty.
}

TEST_F(Teardown, ClientDestructionDetachesEverything) {
    ASSERT_NO_FATAL_FAILURE(connectPin());
    client_.reset();
    EXPECT_EQ(CountEvents(kPinClose), 1u);
    EXPECT_EQ(CountEvents(kStop), 1u);
    EXPECT_EQ(CountEvents(kReleaseSecondItem), 1u);
}

}  // namespace
}  // namespace bayercam::host::ks::testing
