// Live video end to end: the driver over the simulated camera through the class driver's
// client, frames taken as fast as the camera sends them, and at 30 frames per second. Reports
// delivered frames per second and the process CPU time per delivered frame, next to ConvertFrame
// alone measured in the same benchmark (the ratio of the two is the cost of everything around
// the conversion: the camera, the transfer, the signalling and the delivery copy), and the same
// without the bus thread that plays the camera and the host controller. The CPU per frame is
// also split by thread: the processing passes (conversion, header and delivery copy), the
// grabber (frame reads and their signalling), the bus, and the rest (the client). The client
// queues every buffer it gets back again, as a video client does. Run with
// --benchmark_repetitions for medians.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "driver/device/camera_device.h"
#include "driver/entry/driver_entry.h"
#include "host/kernel/registry_config.h"
#include "host/ks/ks_client.h"
#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"
#include "driver/streaming/capture_pin.h"
#include "driver/streaming/color_pipeline.h"

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

// CPU seconds used so far by this process's threads of one name, which the host gives its bus,
// processing and system threads.
double threadCpuSeconds(const std::string& name) {
    double total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string taskName;
        if (!std::getline(comm, taskName) || taskName != name) continue;
        std::ifstream schedstat(task.path() / "schedstat");
        unsigned long long nanoseconds = 0;
        if (schedstat >> nanoseconds) total += double(nanoseconds) * 1e-9;
    }
    return total;
}

// The threads of a stream whose CPU the benchmark reports apart.
struct ThreadCpu {
    double processing = threadCpuSeconds("ks-processing");
    double grabber = threadCpuSeconds("system-thread");
    double bus = threadCpuSeconds("usb-bus");

    ThreadCpu operator-(const ThreadCpu& start) const {
        ThreadCpu used = *this;
        used.processing -= start.processing;
        used.grabber -= start.grabber;
        used.bus -= start.bus;
        return used;
    }
};

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

    // Takes the next frame back and queues its buffer again; true when it carried a picture.
    bool takeFrame() {
        ks::StreamFrame frame;
        if (client_->waitFrame(pin_, std::chrono::milliseconds(2000), &frame) != STATUS_SUCCESS) {
            return false;
        }
        const bool picture = frame.header.DataUsed == kFrameBytes;
        client_->queueFrame(pin_, std::move(frame.data));
        return picture;
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

// ConvertFrame on a full raw frame of colour bars, as a processing pass runs it.
class ConversionRig {
  public:
    ConversionRig()
        : raw_(sim::SimulatedCamera({.exact = true, .scene = sim::makeColorBars()}).renderFrame(0)),
          output_(kFrameBytes),
          pipeline_(CreateColorPipeline()) {
        SetFrameSize(pipeline_, SENSOR_WIDTH, SENSOR_HEIGHT);
        AllocateWorkBuffer(pipeline_);
        pipeline_->outputFrame = output_.data();
        StoreBayerPhase(pipeline_, 1);
    }
    ~ConversionRig() { FreeColorPipeline(pipeline_); }
    ConversionRig(const ConversionRig&) = delete;
    ConversionRig& operator=(const ConversionRig&) = delete;

    void convert() {
        ConvertFrame(pipeline_, raw_.data(), 0, SENSOR_WIDTH);
        benchmark::DoNotOptimize(output_[0]);
    }

    // CPU seconds of one conversion on this thread, the median of a few.
    double cpuSecondsPerFrame() {
        std::vector<double> times;
        for (int i = 0; i < 15; ++i) {
            const double start = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            convert();
            times.push_back(cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - start);
        }
        std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
        return times[times.size() / 2];
    }

  private:
    std::vector<UCHAR> raw_;
    std::vector<UCHAR> output_;
    ColorPipeline* pipeline_;
};

// Takes one delivered frame per iteration and reports frames per second, the process's CPU
// per frame and per second, and the CPU per frame over ConvertFrame alone (measured here, after
// the stream, with the same machine load).
void MeasureDelivery(benchmark::State& state, sim::FramePacing pacing) {
    double convert = 0;
    std::int64_t pictures = 0;
    double wall = 0;
    double cpu = 0;
    ThreadCpu threads;
    std::uint64_t sent = 0;
    {
        StreamingRig rig(pacing, 30.0);
        if (!rig.ready()) {
            state.SkipWithError("the capture did not start");
            return;
        }
        for (int i = 0; i < 5; ++i) rig.takeFrame();  // past the first frames of the run
        const std::uint64_t sentBefore = rig.cameraFramesSent();
        const double cpuStart = processCpuSeconds();
        const ThreadCpu threadsStart;
        const auto wallStart = std::chrono::steady_clock::now();
        for (auto _ : state) pictures += rig.takeFrame() ? 1 : 0;
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        cpu = processCpuSeconds() - cpuStart;
        threads = ThreadCpu() - threadsStart;
        sent = rig.cameraFramesSent() - sentBefore;
    }
    convert = ConversionRig().cpuSecondsPerFrame();
    const auto perPicture = [pictures](double amount) {
        return pictures ? amount / double(pictures) : 0.0;
    };
    const auto overConvert = [convert](double seconds) {
        return convert > 0 ? seconds / convert : 0.0;
    };
    const double perFrame = perPicture(cpu);
    state.counters["frames_per_s"] = double(pictures) / wall;
    state.counters["cpu_ms_per_frame"] = perFrame * 1e3;
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    state.counters["convert_ms"] = convert * 1e3;
    state.counters["cpu_per_frame_over_convert"] = overConvert(perFrame);
    // The bus thread stands in for the camera and the host controller's data transfer, which
    // cost a real host no processor time; without it, what is left is the driver, the class
    // driver and the client.
    const double hardwarePerFrame = perPicture(threads.bus);
    state.counters["hardware_cpu_ms_per_frame"] = hardwarePerFrame * 1e3;
    state.counters["host_cpu_per_frame_over_convert"] = overConvert(perFrame - hardwarePerFrame);
    // The processing passes hold the conversion and the full-frame delivery copy: their CPU
    // over ConvertFrame alone is the floor of the ratios above.
    const double processingPerFrame = perPicture(threads.processing);
    state.counters["processing_cpu_ms_per_frame"] = processingPerFrame * 1e3;
    state.counters["processing_over_convert"] = overConvert(processingPerFrame);
    state.counters["grabber_cpu_ms_per_frame"] = perPicture(threads.grabber) * 1e3;
    state.counters["client_cpu_ms_per_frame"] =
        perPicture(cpu - threads.processing - threads.grabber - threads.bus) * 1e3;
    // Frames the driver read for each one delivered: the grabber reads without pause, and a
    // frame nobody took yet is overwritten by the next.
    state.counters["frames_read_per_delivered"] = perPicture(double(sent));
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
    ConversionRig rig;
    const double cpuStart = processCpuSeconds();
    for (auto _ : state) rig.convert();
    state.counters["cpu_ms_per_frame"] =
        (processCpuSeconds() - cpuStart) * 1e3 / double(state.iterations());
}
BENCHMARK(ConvertFrameAlone)->Unit(benchmark::kMillisecond);

// The simulated camera's making of one raw frame of the moving pattern, which differs in every
// frame (a still scene is drawn once per run): paid by this process for every such frame the
// grabber reads, but part of the stand-in camera, not of the driver.
void SimulatedCameraRender(benchmark::State& state) {
    sim::SimulatedCamera camera({.exact = true, .scene = sim::makeMovingPattern()});
    std::uint64_t n = 0;
    for (auto _ : state) benchmark::DoNotOptimize(camera.renderFrame(n++).data());
}
BENCHMARK(SimulatedCameraRender)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
