// A simulated camera behind a bus, and the tests' own client driver on top.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"
#include "tests/host/usb/usb_test_client.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host::testing {

inline constexpr ULONG kInFlags = USBD_SHORT_TRANSFER_OK | USBD_TRANSFER_DIRECTION_IN;
inline constexpr ULONG kOutFlags = USBD_SHORT_TRANSFER_OK;

// A nonpaged buffer for transfers, filled so a test can see which bytes a transfer wrote.
struct PoolBuffer {
    static constexpr ULONG kTag = 'T' | ('s' << 8) | ('t' << 16) | ('F' << 24);
    explicit PoolBuffer(std::size_t n, std::uint8_t fill = 0)
        : bytes(static_cast<std::uint8_t*>(ExAllocatePoolWithTag(NonPagedPool, n, kTag))), size(n) {
        std::memset(bytes, fill, n);
    }
    ~PoolBuffer() { ExFreePoolWithTag(bytes, kTag); }
    std::vector<std::uint8_t> copy() const { return {bytes, bytes + size}; }
    std::uint8_t* bytes;
    std::size_t size;
};

class UsbBusTest : public KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        plugIn(options());
    }
    void TearDown() override {
        unplugAll();
        KernelTest::TearDown();
    }
    // A camera of other options in place of the current one.
    void plugIn(const sim::SimulatedCameraOptions& cameraOptions) {
        unplugAll();
        camera = std::make_unique<sim::SimulatedCamera>(cameraOptions);
        bus = std::make_unique<UsbBus>(*camera);
        client = std::make_unique<UsbTestClient>(bus->physicalDeviceObject());
    }
    void unplugAll() {
        client.reset();
        bus.reset();
        camera.reset();
    }
    virtual sim::SimulatedCameraOptions options() const {
        return {.descriptors = sim::DescriptorVariant::Standard,
                .pacing = sim::FramePacing::AsFastAsPossible,
                .framesPerSecond = 30.0,
                .clockMode = 1,
                .exact = true,
                .scene = sim::makeMovingPattern()};
    }

    NTSTATUS sendCommand(sim::CommandCode code, std::initializer_list<std::uint8_t> rest = {}) {
        std::uint8_t packet[64] = {};
        packet[0] = static_cast<std::uint8_t>(code);
        std::size_t i = 1;
        for (auto b : rest) packet[i++] = b;
        ULONG length = sizeof(packet);
        return client->transfer(client->pipe(0), packet, length, kOutFlags);
    }
    // The camera's frame handshake around posting: RequestFrame twice before, ReadsPosted after.
    std::size_t postFrameReads(ChunkedRead& read, std::size_t count = 0) {
        sendCommand(sim::CommandCode::RequestFrame);
        sendCommand(sim::CommandCode::RequestFrame);
        std::size_t posted = read.post(count);
        sendCommand(sim::CommandCode::ReadsPosted);
        return posted;
    }

    std::unique_ptr<sim::SimulatedCamera> camera;
    std::unique_ptr<UsbBus> bus;
    std::unique_ptr<UsbTestClient> client;
};

}  // namespace bayercam::host::testing
