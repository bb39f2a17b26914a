// The unchanged driver over the libusb bus, against the simulated camera emulated below the real
// libusb: what the libusb path adds to what the simulated bus tests already prove.
#include "host/usb/libusb_bus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "bayercam/usb_ids.h"
#include "driver/control/sensor.h"
#include "driver/device/camera_device.h"
#include "driver/entry/driver_entry.h"
#include "driver/usb/command_protocol.h"
#include "driver/usb/frame_transfer.h"
#include "driver/usb/usb_requests.h"
#include "host/kernel/registry_config.h"
#include "host/ks/ks_client.h"
#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"
#include "tests/host/usb/libusb_rig.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host::testing {
namespace {

constexpr std::size_t kFrameBytes = 1392640;
const RigDevice kCamera{kCameraUsbVendorId, kCameraUsbProductId, "BC0042"};

UsbSelector ids(std::uint16_t vendor, std::uint16_t product,
                std::optional<std::string> serial = std::nullopt) {
    UsbSelector selector;
    selector.vendor = vendor;
    selector.product = product;
    selector.serial = std::move(serial);
    return selector;
}

sim::SimulatedCameraOptions exactMovingCamera() {
    return {.pacing = sim::FramePacing::AsFastAsPossible,
            .exact = true,
            .scene = sim::makeMovingPattern()};
}

// The driver loaded and attached over a bus; a fresh registry in a temporary folder.
struct DriverOver {
    explicit DriverOver(BusDevice& bus) : bus(bus) {
        const std::wstring& path = bus.instancePath();
        bindDeviceRegistryKey(bus.physicalDeviceObject(), std::string(path.begin(), path.end()));
        client.loadDriver(DriverEntry);
    }
    ~DriverOver() {
        if (handle != nullptr) client.detachDevice(handle);
        unbindDeviceRegistryKey(bus.physicalDeviceObject());
    }
    NTSTATUS attach() { return client.attachDevice(bus.physicalDeviceObject(), &handle); }
    CameraDevice* device() { return CameraDeviceOf(client.deviceObject(handle)); }

    BusDevice& bus;
    ks::KsClient client;
    ks::KsDeviceHandle handle = nullptr;
};

class LibusbBusTest : public KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        std::string pattern = std::filesystem::temp_directory_path() / "libusb-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        setRegistryPath(folder_ / "registry.sqlite");
        InterlockedExchange(&transferTimeoutMs, 3000);
        rig.plug(camera, kCamera);
    }
    void TearDown() override {
        driver.reset();
        bus.reset();
        EXPECT_EQ(rig.urbsInFlight(), 0u) << "every URB was reaped";
        KernelTest::TearDown();
        closeRegistry();
        std::filesystem::remove_all(folder_);
    }

    void start() {
        bus = std::make_unique<LibusbBus>(ids(kCamera.vendor, kCamera.product));
        driver = std::make_unique<DriverOver>(*bus);
        ASSERT_EQ(driver->attach(), STATUS_SUCCESS);
        ASSERT_TRUE(StartSensor(driver->device()));
    }

    // Reads one frame through the driver; true when it came whole.
    bool readFrame() {
        frame.assign(kFrameBytes, 0);
        bool ok = false;
        ReadFrame(driver->device(), frame.data(), &ok);
        return ok;
    }

    std::vector<std::vector<std::uint8_t>> commandPackets() {
        std::vector<std::vector<std::uint8_t>> packets;
        for (const auto& logged : camera.packetLog().snapshot()) {
            if (logged.endpoint == sim::kCommandEndpoint) packets.push_back(logged.bytes);
        }
        return packets;
    }

    sim::SimulatedCamera camera{exactMovingCamera()};
    LibusbRig rig;
    std::unique_ptr<LibusbBus> bus;
    std::unique_ptr<DriverOver> driver;
    std::vector<std::uint8_t> frame;

  private:
    std::filesystem::path folder_;
};

TEST_F(LibusbBusTest, AttachSendsTheSameSensorProgrammingAsTheInProcessBus) {
    start();
    const auto overLibusb = commandPackets();
    driver.reset();
    bus.reset();

    sim::SimulatedCamera reference(exactMovingCamera());
    UsbBus inProcess(reference);
    DriverOver referenceDriver(inProcess);
    ASSERT_EQ(referenceDriver.attach(), STATUS_SUCCESS);
    ASSERT_TRUE(StartSensor(referenceDriver.device()));
    std::vector<std::vector<std::uint8_t>> expected;
    for (const auto& logged : reference.packetLog().snapshot()) {
        if (logged.endpoint == sim::kCommandEndpoint) expected.push_back(logged.bytes);
    }
    ASSERT_GT(expected.size(), 10u);
    EXPECT_EQ(overLibusb, expected);
}

TEST_F(LibusbBusTest, DeviceIsKnownByItsIdsAndSerial) {
    start();
    EXPECT_EQ(bus->instancePath(), usbInstancePath(kCamera.vendor, kCamera.product, L"BC0042"));
    EXPECT_EQ(bus->configurationValue(), 1);
    EXPECT_EQ(bus->configurationDescriptor(), camera.configurationDescriptor());
    const auto descriptor = bus->deviceDescriptor();
    ASSERT_EQ(descriptor.size(), 18u);
    EXPECT_EQ(descriptor[8] | descriptor[9] << 8, kCamera.vendor);
    EXPECT_EQ(bus->device().serial, "BC0042");
    EXPECT_EQ(bus->device().port, "1-1");
}

TEST_F(LibusbBusTest, FramesArriveByteForByte) {
    start();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(readFrame()) << "frame " << i;
        const std::uint64_t number = sim::decodeFrameNumber(frame, 1360).value_or(~0u);
        EXPECT_TRUE(frame == camera.renderFrame(number))
            << "frame " << i << " is camera frame " << number << " as sent";
    }
    EXPECT_EQ(bus->transfersInFlight(), 0u);
}

// Each fault fails one read; the driver recovers (pipe reset where a chunk failed) and the next
// read is whole.
TEST_F(LibusbBusTest, FaultedReadFailsAndTheNextSucceeds) {
    struct Case {
        const char* name;
        std::function<void(sim::FaultKnobs&)> arm;
    };
    const Case cases[] = {
        {"stalled pipe", [](sim::FaultKnobs& f) { f.stallFramePipe = true; }},
        {"short chunk", [](sim::FaultKnobs& f) { f.shortChunkBytes = 1000; }},
        {"failed chunk", [](sim::FaultKnobs& f) { f.failChunk = true; }},
        {"time-out", [](sim::FaultKnobs& f) { f.neverAnswer = true; }},
    };
    start();
    InterlockedExchange(&transferTimeoutMs, 200);
    for (const Case& c : cases) {
        c.arm(camera.faults());
        EXPECT_FALSE(readFrame()) << c.name;
        EXPECT_EQ(bus->transfersInFlight(), 0u) << c.name;
        ASSERT_TRUE(readFrame()) << c.name << ": the read after";
        EXPECT_TRUE(frame == camera.renderFrame(sim::decodeFrameNumber(frame, 1360).value_or(~0u)))
            << c.name;
    }
}

TEST_F(LibusbBusTest, CancelFromAnotherThreadEndsTheRead) {
    start();
    camera.faults().neverAnswer = true;
    auto read = std::async(std::launch::async, [this] { return readFrame(); });
    while (bus->transfersInFlight() < 22) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    CancelTransfers(driver->device());
    EXPECT_FALSE(read.get());
    EXPECT_EQ(bus->transfersInFlight(), 0u);
}

TEST_F(LibusbBusTest, UnplugMidReadFailsEverythingAndReplugAttachesAgain) {
    start();
    camera.faults().neverAnswer = true;
    auto read = std::async(std::launch::async, [this] { return readFrame(); });
    while (bus->transfersInFlight() < 22) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    rig.unplug();
    EXPECT_FALSE(read.get());
    EXPECT_FALSE(bus->present());
    EXPECT_FALSE(SendControl(driver->device(), 1, 0)) << "commands fail once the device is gone";
    driver.reset();
    bus.reset();

    // Plugged in again, the camera starts from power-up.
    sim::SimulatedCamera replugged(exactMovingCamera());
    rig.plug(replugged, kCamera);
    start();
    EXPECT_TRUE(readFrame());
    driver.reset();
    bus.reset();
    rig.unplug();
}

TEST_F(LibusbBusTest, OpeningSaysWhyItCannot) {
    struct Case {
        const char* name;
        UsbSelector selector;
        bool claimedElsewhere;
        UsbOpenProblem problem;
    };
    const Case cases[] = {
        {"other ids", ids(0x1234, 0x5678), false, UsbOpenProblem::NotFound},
        {"other serial", ids(kCamera.vendor, kCamera.product, "nope"), false,
         UsbOpenProblem::NotFound},
        {"claimed", ids(kCamera.vendor, kCamera.product), true, UsbOpenProblem::Busy},
    };
    for (const Case& c : cases) {
        rig.setClaimedElsewhere(c.claimedElsewhere);
        try {
            LibusbBus opened(c.selector);
            ADD_FAILURE() << c.name << ": opened";
        } catch (const UsbOpenError& error) {
            EXPECT_EQ(error.problem(), c.problem) << c.name << ": " << error.what();
        }
    }
    rig.setClaimedElsewhere(false);
    const auto listed = listUsbDevices(ids(kCamera.vendor, kCamera.product));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].serial, "BC0042");
    EXPECT_EQ(listed[0].problem, UsbOpenProblem::None);
}

}  // namespace
}  // namespace bayercam::host::testing
