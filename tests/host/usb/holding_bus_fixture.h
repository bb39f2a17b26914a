// The simulated camera behind a HoldingFunction, so that a test can hold the bus thread inside
// an attempt and act meanwhile.
#pragma once

#include <memory>

#include "tests/host/usb/holding_function.h"
#include "tests/host/usb/usb_bus_fixture.h"

namespace bayercam::host::testing {

class UsbBusHoldingTest : public UsbBusTest {
  protected:
    void SetUp() override {
        UsbBusTest::SetUp();
        client.reset();
        bus.reset();
        holding = std::make_unique<HoldingFunction>(*camera);
        bus = std::make_unique<UsbBus>(*holding);
        client = std::make_unique<UsbTestClient>(bus->physicalDeviceObject());
    }
    // A failed test may leave the bus thread held; the bus cannot stop until it is let go.
    void TearDown() override {
        holding->release();
        UsbBusTest::TearDown();
    }

    std::unique_ptr<HoldingFunction> holding;
};

}  // namespace bayercam::host::testing
