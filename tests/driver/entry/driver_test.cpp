// The filter factory across device stops and starts.
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

}  // namespace
}  // namespace bayercam::testing
