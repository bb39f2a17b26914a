// The driver loaded into the class driver stand-in, attached to a simulated camera behind the
// USB bus, with a registry in a fresh scratch folder. Tests reach the CameraDevice directly.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "driver/device/camera_device.h"
#include "host/ks/ks_client.h"
#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"
#include "tests/support/kernel_test.h"
#include "tests/support/observed_camera.h"
#include "tests/support/scratch_registry.h"

namespace bayercam::testing {

// A command packet as the camera received it.
using Packet = std::vector<std::uint8_t>;

class CameraTest : public host::testing::KernelTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    virtual sim::SimulatedCameraOptions options() const;

    // Add and Start over the simulated camera; returns the status of the attach.
    NTSTATUS attach();
    CameraDevice* device() const;
    PKSDEVICE ksDevice() const;

    // Command packets the camera received so far, in order; forget() drops them.
    std::vector<Packet> commands() const;
    void forget();

    // The device's stored settings, through the platform's registry calls.
    std::optional<ULONG> storedSetting(PCWSTR name) const;
    void storeSetting(PCWSTR name, ULONG value) const;
    // A value of any type and length, as another writer of the key might leave it.
    void storeSettingBytes(PCWSTR name, ULONG type, const std::vector<std::uint8_t>& bytes) const;

    std::unique_ptr<sim::SimulatedCamera> camera;
    std::unique_ptr<ObservedCamera> observed;
    std::unique_ptr<host::UsbBus> bus;
    std::unique_ptr<host::ks::KsClient> client;
    host::ks::KsDeviceHandle handle = nullptr;

  private:
    std::optional<ScratchRegistry> registry_;
};

// A 64-byte packet: the code, the bytes that follow, zeros.
Packet MakePacket(std::initializer_list<std::uint8_t> bytes);
// The command packet of a register write as the camera must receive it.
Packet RegisterPacket(unsigned reg, std::uint32_t value);

}  // namespace bayercam::testing
