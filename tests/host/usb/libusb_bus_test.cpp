// The unchanged driver over the libusb bus, against the simulated camera emulated below the real
// libusb: what the libusb path adds to what the simulated bus tests already prove.
#include "host/usb/libusb_bus.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

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
#include "tests/app/scratch_dir.h"
#include "tests/host/usb/libusb_rig.h"
#include "tests/support/kernel_test.h"
#include "tests/support/observed_camera.h"

namespace bayercam::host::testing {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kFrameBytes = 1392640;

UsbSelector ids(std::uint16_t vendor, std::uint16_t product,
                std::optional<std::string> serial = std::nullopt) {
    UsbSelector selector;
    selector.vendor = vendor;
    selector.product = product;
    selector.serial = std::move(serial);
    return selector;
}

std::vector<std::vector<std::uint8_t>> commandPackets(sim::SimulatedCamera& camera) {
    std::vector<std::vector<std::uint8_t>> packets;
    for (const auto& logged : camera.packetLog().snapshot()) {
        if (logged.endpoint == sim::kCommandEndpoint) packets.push_back(logged.bytes);
    }
    return packets;
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
        setRegistryPath(dir / "registry.sqlite");
        InterlockedExchange(&transferTimeoutMs, 3000);
        rig.plug(camera);
    }
    void TearDown() override {
        driver.reset();
        bus.reset();
        EXPECT_EQ(rig.urbsInFlight(), 0u) << "every URB was reaped";
        KernelTest::TearDown();
        closeRegistry();
    }

    void start() {
        bus = std::make_unique<LibusbBus>(ids(kCameraUsbVendorId, kCameraUsbProductId));
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

    sim::SimulatedCamera camera{exactMovingCamera()};
    LibusbRig rig;
    std::unique_ptr<LibusbBus> bus;
    std::unique_ptr<DriverOver> driver;
    std::vector<std::uint8_t> frame;
    app::testing::ScratchDir dir;
};

TEST_F(LibusbBusTest, AttachSendsTheSameSensorProgrammingAsTheInProcessBus) {
    start();
    const auto overLibusb = commandPackets(camera);
    driver.reset();
    bus.reset();

    sim::SimulatedCamera reference(exactMovingCamera());
    UsbBus inProcess(reference);
    DriverOver referenceDriver(inProcess);
    ASSERT_EQ(referenceDriver.attach(), STATUS_SUCCESS);
    ASSERT_TRUE(StartSensor(referenceDriver.device()));
    const auto expected = commandPackets(reference);
    ASSERT_GT(expected.size(), 10u);
    EXPECT_EQ(overLibusb, expected);
}

// Each fault fails one read; the driver recovers (pipe reset where a chunk failed) and the next
// read is the camera's frame byte for byte.
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
    while (bus->transfersInFlight() < 22) std::this_thread::sleep_for(1ms);
    CancelTransfers(driver->device());
    EXPECT_FALSE(read.get());
    EXPECT_EQ(bus->transfersInFlight(), 0u);
}

// Descriptors that lie get over the real USB stack what they get in-process: the device is
// refused (by the driver's checks, or by libusb before it), no command reaches the camera and
// nothing is left behind.
TEST_F(LibusbBusTest, LyingConfigurationsAreRefused) {
    rig.unplug();
    bayercam::testing::ObservedCamera lying(camera);
    for (const auto& [what, descriptor] : bayercam::testing::MalformedConfigurations()) {
        lying.replaceConfiguration(descriptor);
        rig.plug(lying);
        try {
            LibusbBus opened(ids(kCameraUsbVendorId, kCameraUsbProductId));
            DriverOver refused(opened);
            EXPECT_NE(refused.attach(), STATUS_SUCCESS) << what;
        } catch (const UsbOpenError& error) {
            // libusb itself may pass over a device whose descriptors it cannot parse.
            EXPECT_EQ(error.problem(), UsbOpenProblem::NotFound) << what << ": " << error.what();
        }
        EXPECT_TRUE(commandPackets(camera).empty()) << what;
        rig.unplug();
    }
}

// This thread, and so each file it opens, minds file permissions even as root. Capabilities
// are per thread, and every test runs in a process of its own.
void MindFilePermissions() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    ASSERT_EQ(syscall(SYS_capget, &header, data), 0);
    data[0].effective &= ~(1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH);
    ASSERT_EQ(syscall(SYS_capset, &header, data), 0);
}

TEST_F(LibusbBusTest, OpeningSaysWhyItCannot) {
    for (const UsbSelector& selector :
         {ids(0x1234, 0x5678), ids(kCameraUsbVendorId, kCameraUsbProductId, "nope")}) {
        try {
            LibusbBus opened(selector);
            ADD_FAILURE() << "opened a camera that is not there";
        } catch (const UsbOpenError& error) {
            EXPECT_EQ(error.problem(), UsbOpenProblem::NotFound) << error.what();
        }
    }
    rig.denyAccess();
    MindFilePermissions();
    try {
        LibusbBus opened(ids(kCameraUsbVendorId, kCameraUsbProductId));
        ADD_FAILURE() << "opened a camera without permission";
    } catch (const UsbOpenError& error) {
        EXPECT_EQ(error.problem(), UsbOpenProblem::Permission) << error.what();
        EXPECT_NE(std::string(error.what()).find("tools/udev/70-bayercam.rules"), std::string::npos)
            << error.what();
    }
}

}  // namespace
}  // namespace bayercam::host::testing
