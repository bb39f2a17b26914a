// Fixture of the class driver tests: a lower device object standing for the bus, a client with
// the test minidriver loaded, and helpers that attach, open and connect.
#pragma once

#include <memory>

#include "host/ks/ks_client.h"
#include "tests/host/ks/test_minidriver.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host::ks::testing {

class KsHostTest : public bayercam::host::testing::KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        testminidriver::ResetTestDriver();
        ASSERT_EQ(
            IoCreateDevice(&busDriver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &lowerDevice_),
            STATUS_SUCCESS);
        client_ = std::make_unique<KsClient>();
        ASSERT_EQ(client_->loadDriver(testminidriver::TestDriverEntry), STATUS_SUCCESS);
    }
    void TearDown() override {
        client_.reset();
        if (lowerDevice_ != nullptr) IoDeleteDevice(lowerDevice_);
        KernelTest::TearDown();
    }

    // Attaches the device and opens a filter, then a pin with the test format.
    void connectPin() {
        ASSERT_EQ(client_->attachDevice(lowerDevice_, &device_), STATUS_SUCCESS);
        ASSERT_EQ(client_->openFilter(device_, L"GLOBAL", &filter_), STATUS_SUCCESS);
        KSDATAFORMAT format = testFormat();
        ASSERT_EQ(client_->createPin(filter_, 0, &format, &pin_), STATUS_SUCCESS);
    }
    static KSDATAFORMAT testFormat(ULONG sampleSize = 4096) {
        KSDATAFORMAT format{};
        format.FormatSize = sizeof(KSDATAFORMAT);
        format.SampleSize = sampleSize;
        format.MajorFormat = KSDATAFORMAT_TYPE_VIDEO;
        format.SubFormat = testminidriver::kTestSubFormat;
        format.Specifier = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
        return format;
    }

    DRIVER_OBJECT busDriver_{};
    PDEVICE_OBJECT lowerDevice_ = nullptr;
    std::unique_ptr<KsClient> client_;
    KsDeviceHandle device_ = nullptr;
    KsFilterHandle filter_ = nullptr;
    KsPinHandle pin_ = nullptr;
};

}  // namespace bayercam::host::ks::testing
