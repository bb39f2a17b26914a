// Configuration at start: descriptor variants, descriptors the driver refuses, port recovery.
#include <gtest/gtest.h>

#include "tests/support/camera_fixture.h"
#include "driver/usb/frame_transfer.h"
#include "driver/usb/usb_requests.h"

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

struct VariantExpectation {
    ULONG pipes;
    NTSTATUS frameRead;  // of ReadFrameChunked on a camera that never answers
};

VariantExpectation ExpectationOf(sim::DescriptorVariant variant) {
    switch (variant) {
        case sim::DescriptorVariant::InterfaceWithoutPipes:
            return {0, STATUS_INVALID_PARAMETER};
        case sim::DescriptorVariant::TwoPipes:
            return {2, STATUS_INVALID_PARAMETER};
        default:
            return {3, STATUS_TIMEOUT};
    }
}

TEST_P(DescriptorVariantTest, ConfiguresTheFirstInterface) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    EXPECT_EQ(camera->configurationValue(), 1);
    UsbTarget& usb = device()->usb;
    ASSERT_NE(usb.configDescriptor, nullptr);
    ASSERT_NE(usb.interfaceInfo, nullptr);
    const VariantExpectation expected = ExpectationOf(GetParam());
    EXPECT_EQ(usb.interfaceInfo->InterfaceNumber, 0);
    ASSERT_EQ(usb.interfaceInfo->NumberOfPipes, expected.pipes);
    EXPECT_EQ(usb.pipeInUse == nullptr, expected.pipes == 0)
        << "marks exist exactly when the interface has pipes";
    for (ULONG i = 0; i < expected.pipes; ++i) {
        EXPECT_EQ(usb.interfaceInfo->Pipes[i].MaximumTransferSize, 0xFFFFFFFFu) << "pipe " << i;
        EXPECT_EQ(usb.pipeInUse[i], 0) << "pipe " << i;
    }
    InterlockedExchange(&transferTimeoutMs, 30);
    camera->faults().neverAnswer = true;
    std::vector<std::uint8_t> frame(3 * FRAME_CHUNK_SIZE);
    EXPECT_EQ(ReadFrameChunked(device(), ULONG(frame.size()), frame.data()), expected.frameRead);
}

INSTANTIATE_TEST_SUITE_P(Variants, DescriptorVariantTest,
                         ::testing::Values(sim::DescriptorVariant::Standard,
                                           sim::DescriptorVariant::InterfacesZeroAndTwo,
                                           sim::DescriptorVariant::InterfaceWithoutPipes,
                                           sim::DescriptorVariant::TwoPipes,
                                           sim::DescriptorVariant::InterruptFramePipe,
                                           sim::DescriptorVariant::ClassSpecificDescriptors),
                         [](const auto& info) {
                             switch (info.param) {
                                 case sim::DescriptorVariant::Standard:
                                     return std::string("Standard");
                                 case sim::DescriptorVariant::InterfacesZeroAndTwo:
                                     return std::string("ZeroAndTwo");
                                 case sim::DescriptorVariant::InterfaceWithoutPipes:
                                     return std::string("NoPipes");
                                 case sim::DescriptorVariant::TwoPipes:
                                     return std::string("TwoPipes");
                                 case sim::DescriptorVariant::InterruptFramePipe:
                                     return std::string("Interrupt");
                                 default:
                                     return std::string("ClassSpecific");
                             }
                         });

class ConfigurationTest : public CameraTest {
  protected:
    // A refused configuration leaves the device unconfigured; Start reports the failure and
    // no packet reaches the camera.
    void expectRefused(NTSTATUS status) {
        EXPECT_EQ(status, STATUS_UNSUCCESSFUL);
        EXPECT_EQ(camera->configurationValue(), 0);
        EXPECT_EQ(commands().size(), 0u);
    }
};

std::vector<std::uint8_t> StandardConfiguration() {
    return sim::makeConfigurationDescriptor(sim::DescriptorVariant::Standard);
}

void SetTotalLength(std::vector<std::uint8_t>& descriptor, unsigned length) {
    descriptor[2] = std::uint8_t(length & 0xFF);
    descriptor[3] = std::uint8_t(length >> 8);
}

TEST_F(ConfigurationTest, TotalLengthShorterThanTheHeaderIsRefused) {
    auto descriptor = StandardConfiguration();
    SetTotalLength(descriptor, 5);
    observed->replaceConfiguration(descriptor);
    expectRefused(attach());
}

TEST_F(ConfigurationTest, TotalLengthBeyondWhatTheDeviceSentIsRefused) {
    auto descriptor = StandardConfiguration();
    SetTotalLength(descriptor, unsigned(descriptor.size()) + 16);
    observed->replaceConfiguration(descriptor);
    expectRefused(attach());
}

TEST_F(ConfigurationTest, DescriptorOfLengthZeroIsRefused) {
    auto descriptor = StandardConfiguration();
    descriptor[9 + 9] = 0;  // the first endpoint descriptor
    observed->replaceConfiguration(descriptor);
    expectRefused(attach());
}

TEST_F(ConfigurationTest, DescriptorRunningPastTheEndIsRefused) {
    auto descriptor = StandardConfiguration();
    descriptor[descriptor.size() - 7] = 12;  // the last endpoint claims 5 bytes too many
    observed->replaceConfiguration(descriptor);
    expectRefused(attach());
}

TEST_F(ConfigurationTest, ConfigurationWithoutInterfacesIsRefused) {
    std::vector<std::uint8_t> descriptor{9, 2, 9, 0, 1, 1, 0, 0x80, 250};
    observed->replaceConfiguration(descriptor);
    expectRefused(attach());
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

TEST_F(ConfigurationTest, CancelWithoutReadReturnsAtOnce) {
    ASSERT_EQ(attach(), STATUS_SUCCESS);
    CameraOps* ops = device();
    ops->CancelTransfers();
    ops->AbortPipes();
    EXPECT_EQ(device()->usb.transferSlots, nullptr);
    EXPECT_EQ(bus->pendingTransfers(), 0u);
}

}  // namespace
}  // namespace bayercam::testing
