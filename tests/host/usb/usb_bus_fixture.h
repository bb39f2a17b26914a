// A simulated camera behind a bus, configured by the driver's own requests; tests post their
// transfers with ChunkedRead. With `holding` the bus sees the camera through a HoldingFunction.
#pragma once

#include <cstring>
#include <memory>

#include "driver/usb/usb_requests.h"
#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"
#include "tests/host/usb/chunked_read.h"
#include "tests/host/usb/holding_function.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host::testing {

// A nonpaged buffer for transfers.
struct PoolBuffer {
    static constexpr ULONG kTag = 'T' | ('s' << 8) | ('t' << 16) | ('F' << 24);
    explicit PoolBuffer(std::size_t n)
        : bytes(static_cast<std::uint8_t*>(ExAllocatePoolWithTag(NonPagedPool, n, kTag))), size(n) {
        std::memset(bytes, 0, n);
    }
    ~PoolBuffer() { ExFreePoolWithTag(bytes, kTag); }
    std::uint8_t* bytes;
    std::size_t size;
};

class UsbBusTest : public KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        plugIn();
    }
    void TearDown() override {
        if (holding) holding->release();  // a failed test may leave the bus thread held
        unplug();
        KernelTest::TearDown();
    }
    void plugIn(bool hold = false) {
        unplug();
        camera = std::make_unique<sim::SimulatedCamera>(
            sim::SimulatedCameraOptions{.pacing = sim::FramePacing::AsFastAsPossible,
                                        .exact = true,
                                        .scene = sim::makeMovingPattern()});
        if (hold) holding = std::make_unique<HoldingFunction>(*camera);
        bus = hold ? std::make_unique<UsbBus>(*holding) : std::make_unique<UsbBus>(*camera);
        usb.physicalDevice = usb.lowerDevice = bus->physicalDeviceObject();
        ASSERT_EQ(ConfigureDevice(&usb), STATUS_SUCCESS);
    }
    void unplug() {
        ReleaseConfiguration(&usb);
        bus.reset();
        holding.reset();
        camera.reset();
    }
    PDEVICE_OBJECT pdo() const { return bus->physicalDeviceObject(); }
    USBD_PIPE_HANDLE pipe(ULONG index) { return PipeOf(&usb, index)->PipeHandle; }

    NTSTATUS submit(_URB_BULK_OR_INTERRUPT_TRANSFER& urb) {
        return SubmitUrbSync(&usb, reinterpret_cast<PURB>(&urb));
    }
    NTSTATUS sendCommand(sim::CommandCode code) {
        std::uint8_t packet[64] = {static_cast<std::uint8_t>(code)};
        URB urb{};
        UsbBuildInterruptOrBulkTransferRequest(&urb, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER),
                                               pipe(0), packet, nullptr, sizeof(packet), kOutFlags,
                                               nullptr);
        return SubmitUrbSync(&usb, &urb);
    }
    // The camera's frame handshake around posting: RequestFrame twice before, ReadsPosted after.
    void postFrameReads(ChunkedRead& read) {
        sendCommand(sim::CommandCode::RequestFrame);
        sendCommand(sim::CommandCode::RequestFrame);
        read.post();
        sendCommand(sim::CommandCode::ReadsPosted);
    }

    std::unique_ptr<sim::SimulatedCamera> camera;
    std::unique_ptr<HoldingFunction> holding;
    std::unique_ptr<UsbBus> bus;
    UsbTarget usb{};
};

}  // namespace bayercam::host::testing
