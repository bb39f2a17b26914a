// Frame conversion over one 1360 x 1024 raw frame, single thread: the work-buffer fill, each
// kernel family at each level, whole ConvertFrame calls for colour, grey and colour with white
// balance, and OpenCV's bilinear Bayer-to-BGRA conversion of the same frame as the baseline
// when OpenCV is available. Prints the ratios of the medians at the end; run with
// --benchmark_repetitions so there are medians, and with
// --benchmark_enable_random_interleaving=true so that both sides of a ratio share the machine's
// load.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "driver/pixel/pixel_kernels.h"
#include "driver/streaming/color_pipeline.h"

#ifdef BAYERCAM_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kWidth = 1360;
constexpr int kHeight = 1024;
constexpr LONG kSensorPhase = 1;  // B G / G R

// A smooth scene with some noise, so the filters see realistic gradients.
std::vector<UCHAR> makeRawFrame() {
    std::vector<UCHAR> raw(static_cast<std::size_t>(kWidth) * kHeight);
    std::mt19937 rng(7);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int base = (x * 255 / kWidth + y * 128 / kHeight + ((x & 1) ^ (y & 1)) * 40);
            raw[static_cast<std::size_t>(y) * kWidth + x] =
                static_cast<UCHAR>((base + static_cast<int>(rng() % 16)) & 0xFF);
        }
    }
    return raw;
}

const std::vector<UCHAR>& rawFrame() {
    static const std::vector<UCHAR> raw = makeRawFrame();
    return raw;
}

// A pipeline in the state of a running capture with a full-frame region.
class Run {
  public:
    Run()
        : pipeline_(CreateColorPipeline()),
          output_(static_cast<std::size_t>(kWidth) * kHeight * 4) {
        SetFrameSize(pipeline_, kWidth, kHeight);
        AllocateWorkBuffer(pipeline_);
        pipeline_->outputFrame = output_.data();
        StoreBayerPhase(pipeline_, kSensorPhase);
        ConvertFrame(pipeline_, rawFrame().data(), 0, kWidth);  // fills and snapshots
    }
    ~Run() { FreeColorPipeline(pipeline_); }
    ColorPipeline* pipeline() const { return pipeline_; }

  private:
    ColorPipeline* pipeline_;
    std::vector<UCHAR> output_;
};

void setPixelCounters(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void fillWorkBuffer(benchmark::State& state) {
    Run run;
    for (auto _ : state) {
        FillWorkBuffer(run.pipeline(), rawFrame().data(), 0, kWidth);
        benchmark::DoNotOptimize(run.pipeline()->workBuffer[0]);
    }
    setPixelCounters(state);
}

void convertKernel(benchmark::State& state, ConvertKernel kernel) {
    Run run;
    for (auto _ : state) {
        kernel(run.pipeline());
        benchmark::ClobberMemory();
    }
    setPixelCounters(state);
}

void measureKernel(benchmark::State& state, MeasureKernel kernel) {
    Run run;
    ULONG red = 0, green = 0, blue = 0;
    for (auto _ : state) {
        kernel(run.pipeline(), &red, &green, &blue);
        benchmark::DoNotOptimize(red);
    }
    setPixelCounters(state);
}

void convertFrame(benchmark::State& state, PixelIsa level, LONG colorEnable, LONG whiteBalance) {
    SelectPixelKernelLevel(level);
    Run run;
    StoreColorEnable(run.pipeline(), colorEnable);
    StoreWhiteBalance(run.pipeline(), whiteBalance);
    for (auto _ : state) {
        ConvertFrame(run.pipeline(), rawFrame().data(), 0, kWidth);
        benchmark::ClobberMemory();
    }
    setPixelCounters(state);
    SelectPixelKernelLevel(BestPixelIsa());
}

#ifdef BAYERCAM_BENCH_OPENCV
void openCvBilinear(benchmark::State& state) {
    cv::setNumThreads(1);
    const cv::Mat raw(kHeight, kWidth, CV_8UC1, const_cast<UCHAR*>(rawFrame().data()));
    cv::Mat bgra(kHeight, kWidth, CV_8UC4);
    for (auto _ : state) {
        cv::cvtColor(raw, bgra, cv::COLOR_BayerBG2BGRA);
        benchmark::ClobberMemory();
    }
    setPixelCounters(state);
}
#endif

const char* const kLevelNames[PixelIsaCount] = {"Reference", "Sse2", "Avx2", "Avx512"};

void registerBenchmarks() {
    benchmark::RegisterBenchmark("FillWorkBuffer", fillWorkBuffer);
    for (int level = PixelIsaSse2; level < PixelIsaCount; ++level) {
        const PixelKernelTable* table = GetPixelKernelTable(static_cast<PixelIsa>(level));
        if (table == nullptr) continue;
        const std::string suffix = std::string("/") + kLevelNames[level];
        benchmark::RegisterBenchmark(("ConvertColorBGGR" + suffix).c_str(), convertKernel,
                                     table->convertColor[kSensorPhase]);
        benchmark::RegisterBenchmark(("ConvertGrayBGGR" + suffix).c_str(), convertKernel,
                                     table->convertGray[kSensorPhase]);
        benchmark::RegisterBenchmark(("MeasureWhiteBalanceBGGR" + suffix).c_str(), measureKernel,
                                     table->measureWhiteBalance[kSensorPhase]);
        const auto isa = static_cast<PixelIsa>(level);
        benchmark::RegisterBenchmark(("ConvertFrame/Colour" + suffix).c_str(), convertFrame, isa, 1,
                                     0);
        benchmark::RegisterBenchmark(("ConvertFrame/Grey" + suffix).c_str(), convertFrame, isa, 0,
                                     0);
        benchmark::RegisterBenchmark(("ConvertFrame/ColourWhiteBalance" + suffix).c_str(),
                                     convertFrame, isa, 1, 1);
    }
#ifdef BAYERCAM_BENCH_OPENCV
    benchmark::RegisterBenchmark("OpenCV/cvtColorBayerToBGRA", openCvBilinear);
#endif
}

// Keeps the median CPU time of every benchmark for the ratios: on a shared machine the
// single-threaded CPU time is the steadier of the two.
class MedianReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians_[run.run_name.str()] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatio(const std::string& label, const std::string& top,
                    const std::string& bottom) const {
        const auto t = medians_.find(top);
        const auto b = medians_.find(bottom);
        if (t == medians_.end() || b == medians_.end()) return;
        std::printf("%-58s %6.3f  (%s / %s)\n", label.c_str(), t->second / b->second, top.c_str(),
                    bottom.c_str());
    }

  private:
    std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    registerBenchmarks();
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios of median CPU times (the named members use %s)\n",
                kLevelNames[BestPixelIsa()]);
    for (int level = PixelIsaSse2; level < PixelIsaCount; ++level) {
        const std::string suffix = std::string("/") + kLevelNames[level];
        reporter.printRatio("colour ConvertFrame vs OpenCV bilinear",
                            "ConvertFrame/Colour" + suffix, "OpenCV/cvtColorBayerToBGRA");
        reporter.printRatio("grey vs colour ConvertFrame", "ConvertFrame/Grey" + suffix,
                            "ConvertFrame/Colour" + suffix);
        reporter.printRatio("white-balance measurement vs colour ConvertFrame",
                            "MeasureWhiteBalanceBGGR" + suffix, "ConvertFrame/Colour" + suffix);
    }
    benchmark::Shutdown();
    return 0;
}
