// CPU per delivered frame at 30 frames a second: the unchanged driver reading whole frames with
// ReadFrame over the libusb bus (against the simulated camera emulated below libusb by the
// umockdev rig) and over the in-process bus. Counters, per frame: cpu_ms, the whole process;
// emulation_ms, the threads that emulate the device node (the rig's and umockdev's), which a
// real camera would not cost. Run under umockdev-wrapper.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bayercam/usb_ids.h"
#include "driver/control/sensor.h"
#include "driver/device/camera_device.h"
#include "driver/entry/driver_entry.h"
#include "driver/usb/frame_transfer.h"
#include "host/ks/ks_client.h"
#include "host/usb/libusb_bus.h"
#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"
#include "tests/host/usb/libusb_rig.h"

namespace {

namespace sim = bayercam::sim;
namespace host = bayercam::host;

using Threads = std::set<std::string>;

Threads threadIds() {
    Threads ids;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        ids.insert(task.path().filename());
    }
    return ids;
}

// CPU seconds of this process's threads, or of those listed in `only`.
double cpuSeconds(const Threads* only = nullptr) {
    const long ticks = sysconf(_SC_CLK_TCK);
    double total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (only != nullptr && only->count(task.path().filename()) == 0) continue;
        std::ifstream stat(task.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        std::istringstream fields(line.substr(close + 2));
        std::string field;
        unsigned long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) utime = std::stoul(field);
            if (i == 15) stime = std::stoul(field);
        }
        total += double(utime + stime) / double(ticks);
    }
    return total;
}

void readFrames(benchmark::State& state) {
    const bool overLibusb = state.range(0) != 0;
    sim::SimulatedCamera camera({.pacing = sim::FramePacing::FixedRate,
                                 .framesPerSecond = 30.0,
                                 .exact = true,
                                 .scene = sim::makeMovingPattern(),
                                 .logPackets = false});
    std::unique_ptr<host::testing::LibusbRig> rig;
    std::unique_ptr<host::BusDevice> bus;
    Threads emulating;
    if (overLibusb) {
        const Threads before = threadIds();
        rig = std::make_unique<host::testing::LibusbRig>();
        rig->plug(camera);
        // The threads the rig and umockdev started are the emulation's.
        for (const std::string& id : threadIds()) {
            if (before.count(id) == 0) emulating.insert(id);
        }
        host::UsbSelector selector;
        selector.vendor = bayercam::kCameraUsbVendorId;
        selector.product = bayercam::kCameraUsbProductId;
        bus = std::make_unique<host::LibusbBus>(selector);
    } else {
        bus = std::make_unique<host::UsbBus>(camera);
    }
    host::ks::KsClient client;
    host::ks::KsDeviceHandle handle = nullptr;
    client.loadDriver(DriverEntry);
    client.attachDevice(bus->physicalDeviceObject(), &handle);
    CameraDevice* device = CameraDeviceOf(client.deviceObject(handle));
    StartSensor(device);
    std::vector<std::uint8_t> frame(sim::kFrameBytes);
    bool ok = false;
    ReadFrame(device, frame.data(), &ok);  // the first frame waits for the sensor's start
    const double process = cpuSeconds();
    const double emulation = cpuSeconds(&emulating);
    std::int64_t delivered = 0;
    for (auto _ : state) {
        ReadFrame(device, frame.data(), &ok);
        delivered += ok ? 1 : 0;
    }
    if (delivered == 0) return state.SkipWithError("no frame arrived");
    state.counters["cpu_ms"] = 1e3 * (cpuSeconds() - process) / double(delivered);
    state.counters["emulation_ms"] = 1e3 * (cpuSeconds(&emulating) - emulation) / double(delivered);
    state.counters["frames"] = double(delivered);
    client.detachDevice(handle);
}
BENCHMARK(readFrames)
    ->ArgName("libusb")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(90)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
