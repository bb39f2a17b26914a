// The second process of the settings persistence test: starts the driver over a simulated
// camera whose device instance path is given, so its start loads what an earlier process
// stored, and prints the loaded record as name=value lines.
#include <cstdio>
#include <memory>
#include <string>

#include "driver/device/camera_device.h"
#include "driver/entry/driver_entry.h"
#include "driver/usb/frame_transfer.h"
#include "host/kernel/pool.h"
#include "host/kernel/registry_config.h"
#include "host/ks/ks_client.h"
#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"

using namespace bayercam;

namespace {

void print(const char* name, long long value) { std::printf("%s=%lld\n", name, value); }

void printRecord(CameraDevice* camera) {
    print("Timeout", camera->timeout);
    print("TransferTimeout", transferTimeoutMs);
    print("Exposure", camera->exposure);
    print("GlobalGain", camera->globalGain);
    print("FlipH", camera->flipH);
    print("FlipV", camera->flipV);
    print("ColorEnable", camera->colorEnable);
    print("WhiteBalance", camera->whiteBalance);
    print("ColorCorrection", camera->colorCorrection);
    print("Brightness", camera->brightness);
    print("Contrast", camera->contrast);
    print("Saturation", camera->saturation);
    print("Hue", camera->hue);
    print("RedGain", camera->redGain);
    print("GreenGain", camera->greenGain);
    print("BlueGain", camera->blueGain);
    print("ExTrigger", camera->exTrigger);
    print("SubSample", camera->subSample);
    print("RoiX", camera->roiX);
    print("RoiY", camera->roiY);
    print("RoiW", camera->roiW);
    print("RoiH", camera->roiH);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: settings_reader REGISTRY_FILE INSTANCE_PATH\n");
        return 2;
    }
    host::setRegistryPath(argv[1]);
    sim::SimulatedCamera camera(sim::SimulatedCameraOptions{});
    auto bus = std::make_unique<host::UsbBus>(camera);
    host::bindDeviceRegistryKey(bus->physicalDeviceObject(), argv[2]);
    int result = 1;
    {
        host::ks::KsClient client;
        host::ks::KsDeviceHandle device = nullptr;
        if (client.loadDriver(DriverEntry) == STATUS_SUCCESS &&
            client.attachDevice(bus->physicalDeviceObject(), &device) == STATUS_SUCCESS) {
            printRecord(CameraDeviceOf(client.deviceObject(device)));
            result = 0;
        }
    }
    host::unbindDeviceRegistryKey(bus->physicalDeviceObject());
    bus.reset();
    host::closeRegistry();
    // Freed blocks wait in the pool's quarantine; give them back before the process ends.
    host::pool::flushQuarantine();
    return result;
}
