// The driver's camera side end to end over the simulated camera: one whole raw frame read by
// ReadFrame (packets, 22 posted chunk reads, the wait), and one sensor register write (a
// bounded command exchange).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "driver/control/sensor.h"
#include "driver/device/camera_device.h"
#include "driver/entry/driver_entry.h"
#include "host/ks/ks_client.h"
#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"

namespace {

namespace sim = bayercam::sim;

// The driver attached to a simulated camera that sends every requested frame at once.
class AttachedCamera {
  public:
    explicit AttachedCamera(bool exact)
        : camera_({.descriptors = sim::DescriptorVariant::Standard,
                   .pacing = sim::FramePacing::AsFastAsPossible,
                   .framesPerSecond = 30.0,
                   .clockMode = 1,
                   .exact = exact,
                   .scene = sim::makeMovingPattern()}),
          bus_(camera_) {
        client_.loadDriver(DriverEntry);
        client_.attachDevice(bus_.physicalDeviceObject(), &handle_);
        device_ = CameraDeviceOf(client_.deviceObject(handle_));
    }
    CameraDevice* device() const { return device_; }

  private:
    sim::SimulatedCamera camera_;
    bayercam::host::UsbBus bus_;
    bayercam::host::ks::KsClient client_;
    bayercam::host::ks::KsDeviceHandle handle_ = nullptr;
    CameraDevice* device_ = nullptr;
};

void readFrame(benchmark::State& state) {
    AttachedCamera attached(state.range(0) != 0);
    CameraDevice* device = attached.device();
    if (device == nullptr || !StartSensor(device)) {
        state.SkipWithError("the camera did not start");
        return;
    }
    std::vector<UCHAR> frame(device->rawFrameSize);
    for (auto _ : state) {
        bool ok = false;
        device->ReadFrame(frame.data(), &ok);
        if (!ok) state.SkipWithError("a frame read failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(readFrame)->ArgName("exact")->Arg(0)->Arg(1)->UseRealTime()->Unit(
    benchmark::kMillisecond);

void writeRegister(benchmark::State& state) {
    AttachedCamera attached(true);
    CameraDevice* device = attached.device();
    LONG value = 0;
    for (auto _ : state) {
        if (!WriteSensorRegister(device, 400, value++)) state.SkipWithError("a write failed");
    }
}
BENCHMARK(writeRegister)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
