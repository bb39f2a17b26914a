// What a Camera holds: the camera on its USB bus, the class driver's client with the driver
// loaded, the device, its filter and, while streaming, its pin. Everything the library learns of
// the camera comes through these, as an application on the real platform learns it: property
// requests and the pin's data ranges through the client, descriptors and the selected
// configuration from the bus, stored settings from the device's driver key.
#pragma once

#include <filesystem>
#include <memory>

#include "app/lib/camera.h"
#include "app/lib/camera_lock.h"
#include "app/lib/settings_store.h"
#include "host/ks/ks_client.h"
#include "host/usb/bus_device.h"
#include "host/usb/usb_function.h"

namespace bayercam {

namespace sim {
class SimulatedCamera;
}

struct Camera::Impl {
    ~Impl();

    // A property request with the 32-byte value layout; value is read on set, written on get.
    NTSTATUS sendValue(std::uint32_t id, ULONG verb, LONG* value, LONG second = 0);
    // The video range the capture pin offers now, through the pin's data-range query.
    Result<KS_DATARANGE_VIDEO> offeredRange();
    // The region the driver loaded from the stored settings.
    Region storedRegion() const;

    // Declared first so that they go last: the driver saves the settings before either goes.
    std::unique_ptr<CameraLock> lock;
    std::unique_ptr<StoreSnapshot> snapshot;  // a read-only store's copy, which the driver uses
    std::filesystem::path registry;
    bool storeWritable = true;
    std::optional<double> framesPerSecond;      // the simulated camera's pace; nothing: at once
    std::unique_ptr<host::UsbFunction> device;  // the simulated camera behind the bus, if it is
    sim::SimulatedCamera* simulated = nullptr;  // the same camera
    std::unique_ptr<host::BusDevice> bus;       // the simulated bus, or a real camera's
    std::unique_ptr<host::ks::KsClient> client;
    host::ks::KsDeviceHandle handle = nullptr;
    host::ks::KsFilterHandle filter = nullptr;
    host::ks::KsPinHandle pin = nullptr;
    bool running = false;
    // The region as the driver took it: loaded from the store at the start, or set since.
    Region region;
    std::vector<std::uint8_t> formatBytes;  // the agreed KS_DATAFORMAT_VIDEOINFOHEADER
    std::vector<std::vector<std::uint8_t>> spareBuffers;  // recycled frames' pixel memory
    std::uint64_t framesWithoutPicture = 0;
};

// A status as a person reads it: "the driver refused (STATUS_...)".
std::string describeStatus(NTSTATUS status);

}  // namespace bayercam
