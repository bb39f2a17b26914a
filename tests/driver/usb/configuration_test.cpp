// Configuration at start: descriptor variants, descriptors the driver refuses, port recovery.
#include <gtest/gtest.h>

#include "driver/usb/frame_transfer.h"
#include "driver/usb/usb_requests.h"
#include "tests/support/camera_fixture.h"

namespace bayercam::testing {
namespace {

class DescriptorVariantTest : public CameraTest,
                              public ::testing::WithParamInterface<sim::DescriptorVariant> {
  protected:
    sim::SimulatedCameraOptions options() const override {
        sim::SimulatedCameraOptions o = CameraTest::options();
        o.descriptors = GetParam();
        return o;
    }
};

// A variant without the three pipes cannot read a frame; the others wait for the camera.
TEST_P(DescriptorVariantTest, ConfiguresTheFirstInterface) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    EXPECT_EQ(camera->configurationValue(), 1);
    ASSERT_NE(device()->usb.interfaceInfo, nullptr);
    EXPECT_EQ(device()->usb.interfaceInfo->InterfaceNumber, 0);
    const bool threePipes = GetParam() != sim::DescriptorVariant::InterfaceWithoutPipes &&
                            GetParam() != sim::DescriptorVariant::TwoPipes;
    InterlockedExchange(&transferTimeoutMs, 30);
    camera->faults().neverAnswer = true;
    std::vector<std::uint8_t> frame(3 * FRAME_CHUNK_SIZE);
    EXPECT_EQ(ReadFrameChunked(device(), ULONG(frame.size()), frame.data()),
              threePipes ? STATUS_TIMEOUT : STATUS_INVALID_PARAMETER);
}

std::string VariantName(const ::testing::TestParamInfo<sim::DescriptorVariant>& info) {
    const char* const names[] = {"Standard", "ZeroAndTwo", "NoPipes",
                                 "TwoPipes", "Interrupt",  "ClassSpecific"};
    return names[info.index];
}

INSTANTIATE_TEST_SUITE_P(Variants, DescriptorVariantTest,
                         ::testing::Values(sim::DescriptorVariant::Standard,
                                           sim::DescriptorVariant::InterfacesZeroAndTwo,
                                           sim::DescriptorVariant::InterfaceWithoutPipes,
                                           sim::DescriptorVariant::TwoPipes,
                                           sim::DescriptorVariant::InterruptFramePipe,
                                           sim::DescriptorVariant::ClassSpecificDescriptors),
                         VariantName);

using ConfigurationTest = CameraTest;

// A refused configuration leaves the device unconfigured; Start reports the failure and no
// packet reaches the camera.
TEST_F(ConfigurationTest, MalformedConfigurationsAreRefused) {
    for (const auto& [what, descriptor] : MalformedConfigurations()) {
        observed->replaceConfiguration(descriptor);
        EXPECT_EQ(attach(), STATUS_UNSUCCESSFUL) << what;
        EXPECT_EQ(camera->configurationValue(), 0) << what;
        EXPECT_TRUE(commands().empty()) << what;
        ASSERT_EQ(client->detachDevice(handle), STATUS_SUCCESS);
    }
}

TEST_F(ConfigurationTest, DisabledPortIsResetAndGoneDeviceIsNot) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    camera->disablePort();
    EXPECT_EQ(ResetPortIfDisabled(&device()->usb), STATUS_SUCCESS);
    EXPECT_TRUE(camera->portState().enabled);
    EXPECT_EQ(ResetPortIfDisabled(&device()->usb), STATUS_SUCCESS) << "enabled: no reset";
    camera->unplug();
    EXPECT_EQ(ResetPortIfDisabled(&device()->usb), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(camera->portState().enabled);
}

}  // namespace
}  // namespace bayercam::testing
