// Driver entry, the descriptor tree, the filter factory, filter Create and Close, and the
// release callbacks.
#include <gtest/gtest.h>

#include "driver/device/pool_tags.h"
#include "driver/entry/filter.h"
#include "host/kernel/failure_injection.h"
#include "tests/support/camera_fixture.h"

namespace bayercam::testing {
namespace {

using DriverTest = CameraTest;

TEST_F(DriverTest, DeviceDescriptorHasOnlyAddStartAndStop) {
    const KSDEVICE_DISPATCH* dispatch = CameraDeviceDescriptor.Dispatch;
    ASSERT_NE(dispatch, nullptr);
    EXPECT_EQ(dispatch->Add, &CameraDeviceAdd);
    EXPECT_EQ(dispatch->Start, &CameraDeviceStart);
    EXPECT_EQ(dispatch->Stop, &CameraDeviceStop);
    EXPECT_EQ(dispatch->PostStart, nullptr);
    EXPECT_EQ(dispatch->QueryStop, nullptr);
    EXPECT_EQ(dispatch->CancelStop, nullptr);
    EXPECT_EQ(dispatch->QueryRemove, nullptr);
    EXPECT_EQ(dispatch->CancelRemove, nullptr);
    EXPECT_EQ(dispatch->Remove, nullptr);
    EXPECT_EQ(dispatch->QueryCapabilities, nullptr);
    EXPECT_EQ(dispatch->SurpriseRemoval, nullptr);
    EXPECT_EQ(dispatch->QueryPower, nullptr);
    EXPECT_EQ(dispatch->SetPower, nullptr);
    EXPECT_EQ(dispatch->QueryInterface, nullptr);
    EXPECT_EQ(CameraDeviceDescriptor.FilterDescriptorsCount, 0u);
    EXPECT_EQ(CameraDeviceDescriptor.FilterDescriptors, nullptr);
}

TEST_F(DriverTest, FilterDescriptorValues) {
    const KSFILTER_DESCRIPTOR& filter = CameraFilterDescriptor;
    EXPECT_EQ(filter.Dispatch->Create, &FilterCreate);
    EXPECT_EQ(filter.Dispatch->Close, &FilterClose);
    EXPECT_EQ(filter.Dispatch->Process, nullptr);
    EXPECT_EQ(filter.Dispatch->Reset, nullptr);
    EXPECT_EQ(filter.Version, 0xFFFFFFFFu);
    EXPECT_EQ(filter.Flags, 0u);
    EXPECT_TRUE(IsEqualGUID(*filter.ReferenceGuid, KSNAME_Filter));
    EXPECT_EQ(filter.PinDescriptorSize, sizeof(KSPIN_DESCRIPTOR_EX));
    ASSERT_EQ(filter.CategoriesCount, 2u);
    EXPECT_TRUE(IsEqualGUID(filter.Categories[0], KSCATEGORY_VIDEO));
    EXPECT_TRUE(IsEqualGUID(filter.Categories[1], KSCATEGORY_CAPTURE));
    EXPECT_EQ(filter.NodeDescriptorsCount, 0u);
    EXPECT_EQ(filter.NodeDescriptorSize, sizeof(KSNODE_DESCRIPTOR));
    EXPECT_EQ(filter.ConnectionsCount, 0u);
    EXPECT_EQ(filter.ComponentId, nullptr);

    const KSAUTOMATION_TABLE& automation = *filter.AutomationTable;
    ASSERT_EQ(automation.PropertySetsCount, 1u);
    EXPECT_EQ(automation.PropertyItemSize, sizeof(KSPROPERTY_ITEM));
    EXPECT_EQ(automation.MethodSetsCount, 0u);
    EXPECT_EQ(automation.MethodItemSize, sizeof(KSMETHOD_ITEM));
    EXPECT_EQ(automation.EventSetsCount, 0u);
    EXPECT_EQ(automation.EventItemSize, sizeof(KSEVENT_ITEM));
    const GUID cameraSet = {
        0x3F263C66, 0x0FDA, 0x41D5, {0x9E, 0xA8, 0xCF, 0x2E, 0x34, 0x2C, 0xEF, 0xB2}};
    EXPECT_TRUE(IsEqualGUID(*automation.PropertySets[0].Set, cameraSet));
    EXPECT_EQ(automation.PropertySets[0].FastIoCount, 0u);
}

TEST_F(DriverTest, StartCreatesTheFactoryAgainAfterStop) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    host::ks::KsFilterHandle filter = nullptr;
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &filter), STATUS_SUCCESS);
    EXPECT_EQ(client->closeFilter(filter), STATUS_SUCCESS);

    ASSERT_EQ(client->stopDevice(handle), STATUS_SUCCESS);
    EXPECT_FALSE(NT_SUCCESS(client->openFilter(handle, L"GLOBAL", &filter)))
        << "a stopped device has no factory";
    ASSERT_EQ(client->startDevice(handle), STATUS_SUCCESS);
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &filter), STATUS_SUCCESS);
    EXPECT_EQ(client->closeFilter(filter), STATUS_SUCCESS);
}

TEST_F(DriverTest, NoFactoryForADeviceFlaggedAsStarted) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    ASSERT_TRUE(ksDevice()->Started);
    EXPECT_EQ(CreateCameraFilterFactory(ksDevice()), STATUS_SUCCESS)
        << "a second factory under \"GLOBAL\" would collide";
}

TEST_F(DriverTest, EachFilterHasItsOwnContextAndEveryCloseStoresTheSettings) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    host::ks::KsFilterHandle first = nullptr;
    host::ks::KsFilterHandle second = nullptr;
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &first), STATUS_SUCCESS);
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &second), STATUS_SUCCESS);
    auto* firstContext = static_cast<FilterContext*>(client->filterObject(first)->Context);
    auto* secondContext = static_cast<FilterContext*>(client->filterObject(second)->Context);
    ASSERT_NE(firstContext, nullptr);
    ASSERT_NE(secondContext, nullptr);
    EXPECT_NE(firstContext, secondContext);
    EXPECT_EQ(firstContext->filter, client->filterObject(first));

    device()->exposure = 417;
    ASSERT_EQ(client->closeFilter(first), STATUS_SUCCESS);
    EXPECT_EQ(storedSetting(L"Exposure"), 417u);
    device()->exposure = 99;
    ASSERT_EQ(client->closeFilter(second), STATUS_SUCCESS);
    EXPECT_EQ(storedSetting(L"Exposure"), 99u);
}

TEST_F(DriverTest, FilterCreateWithoutMemoryFails) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    host::ks::KsFilterHandle filter = nullptr;
    host::injection::failNthOfTag(POOL_TAG_CAMERA, 1);
    EXPECT_EQ(client->openFilter(handle, L"GLOBAL", &filter), STATUS_INSUFFICIENT_RESOURCES);
}

TEST_F(DriverTest, CloseWithoutCameraDeviceStillSucceeds) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    host::ks::KsFilterHandle filter = nullptr;
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &filter), STATUS_SUCCESS);
    PVOID context = ksDevice()->Context;
    ksDevice()->Context = nullptr;
    EXPECT_EQ(FilterClose(client->filterObject(filter), nullptr), STATUS_SUCCESS);
    EXPECT_FALSE(storedSetting(L"Exposure").has_value()) << "nothing may be stored";
    ksDevice()->Context = context;
    EXPECT_EQ(client->closeFilter(filter), STATUS_SUCCESS);
}

}  // namespace
}  // namespace bayercam::testing
