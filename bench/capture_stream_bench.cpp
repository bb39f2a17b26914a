// Live video end to end: the driver over the simulated camera through the class driver's
// client, frames taken as fast as the camera sends them, and at 30 frames per second. Reports
// delivered frames per second and the process CPU time per delivered frame, next to ConvertFrame
// alone and to the simulated camera's own rendering of a frame (which the process pays too, but
// which is not the driver's cost). Run with --benchmark_repetitions for medians.
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/camera_device.h"
#include "driver/driver_entry.h"
#include "host/kernel/registry_config.h"
#include "host/ks/ks_client.h"
#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"
#include "streaming/capture_pin.h"
#include "streaming/color_pipeline.h"

namespace {

namespace ks = bayercam::host::ks;
namespace sim = bayercam::sim;

constexpr ULONG kFrameBytes = SENSOR_WIDTH * SENSOR_HEIGHT * 4;
constexpr int kFramesInFlight = 2;

double cpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double processCpuSeconds() { return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }

// The driver loaded over one simulated camera, a filter open and a pin running.
class StreamingRig {
  public:
    StreamingRig(sim::FramePacing pacing, double framesPerSecond) {
        std::string pattern = std::filesystem::temp_directory_path() / "capture-bench-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) return;
        folder_ = pattern;
        bayercam::host::setRegistryPath(folder_ / "registry.sqlite");
        camera_ = std::make_unique<sim::SimulatedCamera>(
            sim::SimulatedCameraOptions{.pacing = pacing,
                                        .framesPerSecond = framesPerSecond,
                                        .exact = true,
                                        .scene = sim::makeColorBars()});
        bus_ = std::make_unique<bayercam::host::UsbBus>(*camera_);
        const std::wstring& path = bus_->instancePath();
        bayercam::host::bindDeviceRegistryKey(bus_->physicalDeviceObject(),
                                              std::string(path.begin(), path.end()));
        client_ = std::make_unique<ks::KsClient>();
        if (client_->loadDriver(DriverEntry) != STATUS_SUCCESS) return;
        if (client_->attachDevice(bus_->physicalDeviceObject(), &device_) != STATUS_SUCCESS) return;
        if (client_->openFilter(device_, L"GLOBAL", &filter_) != STATUS_SUCCESS) return;
        auto* camera = CameraDeviceOf(client_->deviceObject(device_));
        KS_DATAFORMAT_VIDEOINFOHEADER format{};
        ULONG returned = 0;
        if (client_->intersect(filter_, 0, &camera->captureDescriptors.dataRange.DataRange, &format,
                               sizeof(format), &returned) != STATUS_SUCCESS) {
            return;
        }
        if (client_->createPin(filter_, 0, &format.DataFormat, &pin_) != STATUS_SUCCESS) return;
        ready_ = client_->setPinState(pin_, KSSTATE_RUN) == STATUS_SUCCESS;
        for (int i = 0; ready_ && i < kFramesInFlight; ++i) client_->queueFrame(pin_, kFrameBytes);
    }

    ~StreamingRig() {
        client_.reset();
        if (bus_) bayercam::host::unbindDeviceRegistryKey(bus_->physicalDeviceObject());
        bus_.reset();
        camera_.reset();
        bayercam::host::closeRegistry();
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }

    bool ready() const { return ready_; }
    std::uint64_t cameraFramesSent() const { return camera_->counters().delivered; }

    // CPU seconds the simulated camera spends rendering one frame, on this thread alone (the
    // stream goes on meanwhile).
    double renderCpuSeconds() const {
        constexpr int kRenders = 10;
        const double start = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        for (int i = 0; i < kRenders; ++i) benchmark::DoNotOptimize(camera_->renderFrame(i).data());
        return (cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - start) / kRenders;
    }

    // Takes the next frame back and queues it again; true when it carried a picture.
    bool takeFrame() {
        ks::StreamFrame frame;
        if (client_->waitFrame(pin_, std::chrono::milliseconds(2000), &frame) != STATUS_SUCCESS) {
            return false;
        }
        client_->queueFrame(pin_, kFrameBytes);
        return frame.header.DataUsed == kFrameBytes;
    }

  private:
    std::filesystem::path folder_;
    std::unique_ptr<sim::SimulatedCamera> camera_;
    std::unique_ptr<bayercam::host::UsbBus> bus_;
    std::unique_ptr<ks::KsClient> client_;
    ks::KsDeviceHandle device_ = nullptr;
    ks::KsFilterHandle filter_ = nullptr;
    ks::KsPinHandle pin_ = nullptr;
    bool ready_ = false;
};

// Takes one delivered frame per iteration and reports frames per second, the process's CPU
// per frame and per second, and the same CPU without the stand-in camera's rendering of every
// frame it sent (the camera is not the driver's cost).
void MeasureDelivery(benchmark::State& state, sim::FramePacing pacing) {
    StreamingRig rig(pacing, 30.0);
    if (!rig.ready()) {
        state.SkipWithError("the capture did not start");
        return;
    }
    for (int i = 0; i < 5; ++i) rig.takeFrame();  // past the first frames of the run
    const double render = rig.renderCpuSeconds();
    std::int64_t pictures = 0;
    const std::uint64_t sentBefore = rig.cameraFramesSent();
    const double cpuStart = processCpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    for (auto _ : state) pictures += rig.takeFrame() ? 1 : 0;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double cpu = processCpuSeconds() - cpuStart;
    const double driverSide = cpu - double(rig.cameraFramesSent() - sentBefore) * render;
    state.counters["frames_per_s"] = double(pictures) / wall;
    state.counters["cpu_ms_per_frame"] = pictures ? cpu * 1e3 / double(pictures) : 0.0;
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    state.counters["cpu_ms_per_frame_without_render"] =
        pictures ? driverSide * 1e3 / double(pictures) : 0.0;
    state.counters["cpu_percent_without_render"] = 100.0 * driverSide / wall;
}

// The camera as fast as it can.
void EndToEndAsFastAsPossible(benchmark::State& state) {
    MeasureDelivery(state, sim::FramePacing::AsFastAsPossible);
}
BENCHMARK(EndToEndAsFastAsPossible)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(150);

// The camera at 30 frames per second: the process's share of one core while it streams.
void EndToEndThirtyFramesPerSecond(benchmark::State& state) {
    MeasureDelivery(state, sim::FramePacing::FixedRate);
}
BENCHMARK(EndToEndThirtyFramesPerSecond)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(90);

// ConvertFrame alone on a full raw frame, as a processing pass runs it.
void ConvertFrameAlone(benchmark::State& state) {
    std::vector<UCHAR> raw =
        sim::SimulatedCamera({.exact = true, .scene = sim::makeColorBars()}).renderFrame(0);
    std::vector<UCHAR> output(kFrameBytes);
    ColorPipeline* pipeline = CreateColorPipeline();
    SetFrameSize(pipeline, SENSOR_WIDTH, SENSOR_HEIGHT);
    AllocateWorkBuffer(pipeline);
    pipeline->outputFrame = output.data();
    StoreBayerPhase(pipeline, 1);
    const double cpuStart = processCpuSeconds();
    for (auto _ : state) {
        ConvertFrame(pipeline, raw.data(), 0, SENSOR_WIDTH);
        benchmark::DoNotOptimize(output[0]);
    }
    state.counters["cpu_ms_per_frame"] =
        (processCpuSeconds() - cpuStart) * 1e3 / double(state.iterations());
    FreeColorPipeline(pipeline);
}
BENCHMARK(ConvertFrameAlone)->Unit(benchmark::kMillisecond);

// The simulated camera's rendering of one raw frame: paid by this process for every frame the
// grabber reads, but part of the stand-in camera, not of the driver.
void SimulatedCameraRender(benchmark::State& state) {
    sim::SimulatedCamera camera({.exact = true, .scene = sim::makeColorBars()});
    std::uint64_t n = 0;
    for (auto _ : state) benchmark::DoNotOptimize(camera.renderFrame(n++).data());
}
BENCHMARK(SimulatedCameraRender)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
