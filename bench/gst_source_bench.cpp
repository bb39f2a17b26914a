// The GStreamer source against the library it is built on: the process's CPU time per frame of
// a `bayercamsrc ! fakesink` pipeline, and of the library's own stream loop (nextFrame, then
// recycle), the same simulated camera at the same rate. The element's cost over the library is
// the ratio of the two, printed at the end from the medians. Run with --benchmark_repetitions
// for medians, and with --benchmark_enable_random_interleaving=true so that both sides share
// the machine's load.
#include <benchmark/benchmark.h>
#include <gst/gst.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "app/gst/bayercam_src.h"
#include "app/lib/camera.h"

namespace {

constexpr const char* kCamera = "sim:scene=bars,exact,fps=30";
constexpr int kFramesBeforeMeasuring = 5;
constexpr std::chrono::seconds kFrameWait{2};

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A settings store of the benchmark's own, removed afterwards.
class ScratchStore {
  public:
    ScratchStore() {
        std::string pattern = std::filesystem::temp_directory_path() / "gst-bench-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
    }
    ~ScratchStore() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::filesystem::path file() const { return folder_ / "store.db"; }

  private:
    std::filesystem::path folder_;
};

void reportCpu(benchmark::State& state, double cpu, std::uint64_t frames) {
    state.counters["cpu_ms_per_frame"] = frames ? cpu * 1e3 / double(frames) : 0.0;
}

void LibraryStreamLoop(benchmark::State& state) {
    const ScratchStore store;
    auto camera =
        bayercam::Camera::open(bayercam::parseCameraOptions(kCamera).value(), store.file());
    if (!camera || !camera.value()->start()) {
        state.SkipWithError("the camera did not start");
        return;
    }
    const auto takeFrame = [&] {
        bayercam::Result<bayercam::Frame> frame = camera.value()->nextFrame(kFrameWait);
        if (frame) camera.value()->recycle(std::move(frame).value());
        return bool(frame);
    };
    for (int i = 0; i < kFramesBeforeMeasuring; ++i) takeFrame();
    const double start = processCpuSeconds();
    for (auto _ : state) {
        if (!takeFrame()) state.SkipWithError("no frame came");
    }
    reportCpu(state, processCpuSeconds() - start, state.iterations());
}

// Frames that reached the sink, counted by a probe on its pad.
struct SinkCount {
    std::mutex mutex;
    std::condition_variable arrived;
    std::uint64_t frames = 0;  // guarded by mutex

    static GstPadProbeReturn count(GstPad*, GstPadProbeInfo*, gpointer data) {
        auto* self = static_cast<SinkCount*>(data);
        {
            std::lock_guard lock(self->mutex);
            ++self->frames;
        }
        self->arrived.notify_one();
        return GST_PAD_PROBE_OK;
    }
    // Waits for a frame after the first `seen`; returns how many have come.
    std::uint64_t waitPast(std::uint64_t seen) {
        std::unique_lock lock(mutex);
        arrived.wait_for(lock, kFrameWait, [&] { return frames > seen; });
        return frames;
    }
};

void GstSourceToFakesink(benchmark::State& state) {
    const ScratchStore store;
    const std::string line = std::string("bayercamsrc camera=") + kCamera +
                             " registry=" + store.file().string() + " ! fakesink name=sink";
    GstElement* pipeline = gst_parse_launch(line.c_str(), nullptr);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    SinkCount count;
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, SinkCount::count, &count, nullptr);
    gst_object_unref(pad);
    gst_object_unref(sink);
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        state.SkipWithError("the pipeline did not start");
    }
    std::uint64_t seen = 0;
    while (seen < kFramesBeforeMeasuring) seen = count.waitPast(seen);
    const std::uint64_t first = seen;
    const double start = processCpuSeconds();
    for (auto _ : state) {
        const std::uint64_t now = count.waitPast(seen);
        if (now == seen) state.SkipWithError("no frame came");
        seen = now;
    }
    reportCpu(state, processCpuSeconds() - start, seen - first);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
}

BENCHMARK(LibraryStreamLoop)->Iterations(90)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(GstSourceToFakesink)->Iterations(90)->UseRealTime()->Unit(benchmark::kMillisecond);

// Keeps the median CPU per frame of each benchmark for the ratio.
class MedianReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto counter = run.counters.find("cpu_ms_per_frame");
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
                counter != run.counters.end()) {
                medians_[run.run_name.function_name] = counter->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void printRatio() const {
        const auto gst = medians_.find("GstSourceToFakesink");
        const auto library = medians_.find("LibraryStreamLoop");
        if (gst == medians_.end() || library == medians_.end()) return;
        std::printf(
            "\nmedian CPU per frame: bayercamsrc ! fakesink %.3f ms, library loop %.3f ms, "
            "ratio %.3f\n",
            gst->second, library->second, gst->second / library->second);
    }

  private:
    std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    gst_element_register(nullptr, "bayercamsrc", GST_RANK_NONE, BAYERCAM_TYPE_SRC);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio();
    benchmark::Shutdown();
    return 0;
}
