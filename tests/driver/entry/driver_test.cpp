// The filter factory across device stops and starts, and filter Close storing the settings.
#include <gtest/gtest.h>

#include "driver/entry/filter.h"
#include "tests/support/camera_fixture.h"

namespace bayercam::testing {
namespace {

using DriverTest = CameraTest;

TEST_F(DriverTest, StartCreatesTheFactoryAgainAfterStop) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    host::ks::KsFilterHandle filter = nullptr;
    ASSERT_EQ(client->stopDevice(handle), STATUS_SUCCESS);
    EXPECT_FALSE(NT_SUCCESS(client->openFilter(handle, L"GLOBAL", &filter)))
        << "a stopped device has no factory";
    ASSERT_EQ(client->startDevice(handle), STATUS_SUCCESS);
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &filter), STATUS_SUCCESS);
    EXPECT_EQ(client->closeFilter(filter), STATUS_SUCCESS);
    EXPECT_EQ(CreateCameraFilterFactory(ksDevice()), STATUS_SUCCESS)
        << "a started device keeps its one factory: a second under \"GLOBAL\" would collide";
}

TEST_F(DriverTest, EveryFilterCloseStoresTheSettings) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    host::ks::KsFilterHandle first = nullptr;
    host::ks::KsFilterHandle second = nullptr;
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &first), STATUS_SUCCESS);
    ASSERT_EQ(client->openFilter(handle, L"GLOBAL", &second), STATUS_SUCCESS);
    device()->exposure = 417;
    ASSERT_EQ(client->closeFilter(first), STATUS_SUCCESS);
    EXPECT_EQ(storedSetting(L"Exposure"), 417u);
    device()->exposure = 99;
    ASSERT_EQ(client->closeFilter(second), STATUS_SUCCESS);
    EXPECT_EQ(storedSetting(L"Exposure"), 99u);
}

}  // namespace
}  // namespace bayercam::testing
