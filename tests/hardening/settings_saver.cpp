// The writer of the settings durability test, a process to be killed: it starts the driver over
// a simulated camera bound to the instance path given, then saves the settings again and again
// the way a client makes the driver save them, by closing a filter, each time with the whole
// record set to the next generation (see settings_generations.h). It prints "saving PID" once the
// device has started and runs until it is killed.
//   settings_saver REGISTRY_FILE INSTANCE_PATH FIRST_GENERATION
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "driver/device/camera_device.h"
#include "driver/entry/driver_entry.h"
#include "host/kernel/registry_config.h"
#include "host/ks/ks_client.h"
#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"
#include "tests/hardening/settings_generations.h"

using namespace bayercam;
using bayercam::testing::GenerationValue;

namespace {

// Every field SaveSettings stores, in its order, set to generation g.
void SetGeneration(CameraDevice* camera, ULONG g) {
    SettingsLockGuard guard(camera);
    ULONG* const fields[] = {
        &camera->timeout,
        &camera->exposure,
        &camera->globalGain,
        nullptr,
        nullptr,
        &camera->colorEnable,
        &camera->whiteBalance,
        &camera->colorCorrection,
        &camera->brightness,
        &camera->contrast,
        &camera->saturation,
        &camera->hue,
        &camera->redGain,
        &camera->greenGain,
        &camera->blueGain,
        &camera->agc,
        &camera->aec,
        &camera->clock,
        &camera->exTrigger,
    };
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        if (fields[i] != nullptr) *fields[i] = GenerationValue(g, i);
    }
    InterlockedExchange(&camera->flipH, LONG(GenerationValue(g, 3)));
    InterlockedExchange(&camera->flipV, LONG(GenerationValue(g, 4)));
    camera->subSample = LONG(GenerationValue(g, 19));
    camera->roiX = LONG(GenerationValue(g, 20));
    camera->roiY = LONG(GenerationValue(g, 21));
    camera->roiW = LONG(GenerationValue(g, 22));
    camera->roiH = LONG(GenerationValue(g, 23));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: settings_saver REGISTRY_FILE INSTANCE_PATH FIRST_GENERATION\n");
        return 2;
    }
    host::setRegistryPath(argv[1]);
    sim::SimulatedCamera camera(sim::SimulatedCameraOptions{});
    host::UsbBus bus(camera);
    host::bindDeviceRegistryKey(bus.physicalDeviceObject(), argv[2]);
    host::ks::KsClient client;
    host::ks::KsDeviceHandle device = nullptr;
    if (client.loadDriver(DriverEntry) != STATUS_SUCCESS ||
        client.attachDevice(bus.physicalDeviceObject(), &device) != STATUS_SUCCESS) {
        std::fprintf(stderr, "settings_saver: the device did not start\n");
        return 1;
    }
    CameraDevice* record = CameraDeviceOf(client.deviceObject(device));
    std::printf("saving %d\n", int(getpid()));
    std::fflush(stdout);
    for (ULONG g = ULONG(std::strtoul(argv[3], nullptr, 10));; ++g) {
        host::ks::KsFilterHandle filter = nullptr;
        if (client.openFilter(device, L"GLOBAL", &filter) != STATUS_SUCCESS) return 1;
        SetGeneration(record, g);
        client.closeFilter(filter);
    }
}
