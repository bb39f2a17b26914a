#include "tests/support/camera_fixture.h"

#include <cstring>

#include "driver/entry/driver_entry.h"
#include "driver/usb/command_protocol.h"
#include "driver/usb/frame_transfer.h"
#include "tests/support/settings_key.h"
#include "tests/support/test_camera.h"
#include "tests/support/usb_port.h"

namespace bayercam::testing {

void CameraTest::SetUp() {
    KernelTest::SetUp();
    registry_.emplace();
    InterlockedExchange(&transferTimeoutMs, 3000);
    InterlockedExchange(&commandTimeoutMs, 1000);
    camera = std::make_unique<sim::SimulatedCamera>(options());
    observed = std::make_unique<ObservedCamera>(*camera);
    bus = PlugIn(*observed);
    client = std::make_unique<host::ks::KsClient>();
    ASSERT_EQ(client->loadDriver(DriverEntry), STATUS_SUCCESS);
}

void CameraTest::TearDown() {
    client.reset();
    Unplug(bus);
    observed.reset();
    camera.reset();
    KernelTest::TearDown();
    registry_.reset();
}

sim::SimulatedCameraOptions CameraTest::options() const { return TestCameraOptions(); }

NTSTATUS CameraTest::attach() { return client->attachDevice(bus->physicalDeviceObject(), &handle); }

PKSDEVICE CameraTest::ksDevice() const { return client->deviceObject(handle); }

CameraDevice* CameraTest::device() const { return CameraDeviceOf(ksDevice()); }

std::vector<Packet> CameraTest::commands() const {
    std::vector<Packet> packets;
    for (const sim::LoggedPacket& logged : camera->packetLog().snapshot()) {
        if (logged.endpoint == sim::kCommandEndpoint) packets.push_back(logged.bytes);
    }
    return packets;
}

void CameraTest::forget() { camera->packetLog().clear(); }

std::optional<ULONG> CameraTest::storedSetting(PCWSTR name) const {
    HANDLE driverKey;
    HANDLE key = host::testing::OpenSettingsKey(bus->physicalDeviceObject(), &driverKey);
    if (key == nullptr) return std::nullopt;
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    ULONG buffer[8] = {};
    ULONG length = 0;
    NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buffer,
                                      sizeof(buffer), &length);
    ZwClose(key);
    ZwClose(driverKey);
    if (!NT_SUCCESS(status)) return std::nullopt;
    ULONG value;
    std::memcpy(&value, reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer)->Data, 4);
    return value;
}

void CameraTest::storeSetting(PCWSTR name, ULONG value) const {
    storeSettingBytes(name, REG_DWORD,
                      {std::uint8_t(value), std::uint8_t(value >> 8), std::uint8_t(value >> 16),
                       std::uint8_t(value >> 24)});
}

void CameraTest::storeSettingBytes(PCWSTR name, ULONG type,
                                   const std::vector<std::uint8_t>& bytes) const {
    HANDLE driverKey;
    HANDLE key = host::testing::OpenSettingsKey(bus->physicalDeviceObject(), &driverKey);
    ASSERT_NE(key, nullptr);
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    std::vector<std::uint8_t> data = bytes;
    EXPECT_EQ(ZwSetValueKey(key, &valueName, 0, type, data.data(), ULONG(data.size())),
              STATUS_SUCCESS);
    ZwClose(key);
    ZwClose(driverKey);
}

Packet MakePacket(std::initializer_list<std::uint8_t> bytes) {
    Packet packet(64, 0);
    std::size_t i = 0;
    for (std::uint8_t b : bytes) packet[i++] = b;
    return packet;
}

Packet RegisterPacket(unsigned reg, std::uint32_t value) {
    std::uint32_t mask = reg < 256 ? 0x3F : reg < 384 ? 0xFFFF : 0x3FFFFF;
    std::uint8_t width = reg < 256 ? 16 : reg < 384 ? 26 : 32;
    std::uint32_t word = ((value & mask) << 10) + (reg & 0x3FF);
    return MakePacket({0x04, width, std::uint8_t(word), std::uint8_t(word >> 8),
                       std::uint8_t(word >> 16), std::uint8_t(word >> 24)});
}

}  // namespace bayercam::testing
