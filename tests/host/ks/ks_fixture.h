// Fixture of the class driver tests: a lower device object standing for the bus, a client
// with the test minidriver loaded, and helpers that attach, open and connect.
#pragma once

#include <memory>

#include "host/ks/ks_client.h"
#include "tests/host/ks/test_minidriver.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host::ks::testing {

class KsHostTest : public bayercam::host::testing::KernelTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Attaches the device and opens a filter on "GLOBAL"; fails the test otherwise.
    void attachAndOpen();
    // attachAndOpen, then a pin with the test format.
    void connectPin();
    static KSDATAFORMAT testFormat(ULONG sampleSize = 4096);

    DRIVER_OBJECT busDriver_{};
    PDEVICE_OBJECT lowerDevice_ = nullptr;
    std::unique_ptr<KsClient> client_;
    KsDeviceHandle device_ = nullptr;
    KsFilterHandle filter_ = nullptr;
    KsPinHandle pin_ = nullptr;
};

}  // namespace bayercam::host::ks::testing
