// A simulated camera behind a bus, seen through a HoldingFunction and configured by the driver's
// own requests; tests post their transfers with PendingTransfer.
#pragma once

#include <memory>

#include "driver/usb/usb_requests.h"
#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"
#include "tests/host/usb/holding_function.h"
#include "tests/host/usb/pending_transfer.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host::testing {

class UsbBusTest : public KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        camera = std::make_unique<sim::SimulatedCamera>(sim::SimulatedCameraOptions{
            .pacing = sim::FramePacing::AsFastAsPossible, .scene = nullptr});
        holding = std::make_unique<HoldingFunction>(*camera);
        bus = std::make_unique<UsbBus>(*holding);
        usb.physicalDevice = usb.lowerDevice = bus->physicalDeviceObject();
        ASSERT_EQ(ConfigureDevice(&usb), STATUS_SUCCESS);
    }
    void TearDown() override {
        holding->release();  // a failed test may leave the bus thread held
        ReleaseConfiguration(&usb);
        bus.reset();
        KernelTest::TearDown();
    }
    PDEVICE_OBJECT pdo() const { return bus->physicalDeviceObject(); }
    USBD_PIPE_HANDLE pipe(ULONG index) { return PipeOf(&usb, index)->PipeHandle; }

    std::unique_ptr<sim::SimulatedCamera> camera;
    std::unique_ptr<HoldingFunction> holding;
    std::unique_ptr<UsbBus> bus;
    UsbTarget usb{};
};

}  // namespace bayercam::host::testing
