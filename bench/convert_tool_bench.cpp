// The stages of one `bayercam convert` of a full 1360 x 1024 frame, single thread: the
// conversion with its per-call pipeline and buffers, and the output encodings written through
// the atomic file (to a tmpfs folder when there is one, so the disk does not dominate).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <vector>

#include "app/tool/image_writers.h"
#include "app/tool/raw_conversion.h"

namespace {

using bayercam::app::ConversionSettings;
using bayercam::app::ConvertedFrame;
using bayercam::app::FrameSize;

constexpr FrameSize kFull{1360, 1024};

std::vector<std::uint8_t> makeRawFrame() {
    std::vector<std::uint8_t> raw(kFull.pixels());
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const std::size_t x = i % 1360;
        const std::size_t y = i / 1360;
        raw[i] = static_cast<std::uint8_t>(x * 200 / 1360 + y * 40 / 1024 + rng() % 16);
    }
    return raw;
}

std::filesystem::path outputFolder() {
    const std::filesystem::path shm = "/dev/shm";
    return std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
}

void BM_ConvertRawFrame(benchmark::State& state) {
    const std::vector<std::uint8_t> raw = makeRawFrame();
    ConversionSettings settings;
    settings.whiteBalance = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        ConvertedFrame frame = bayercam::app::convertRawFrame(raw, kFull, 1, settings);
        benchmark::DoNotOptimize(frame.bgra.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kFull.pixels()));
}
BENCHMARK(BM_ConvertRawFrame)
    ->ArgName("whiteBalance")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

void BM_WriteImageFile(benchmark::State& state) {
    const auto format = static_cast<bayercam::app::OutputFormat>(state.range(0));
    const ConvertedFrame frame =
        bayercam::app::convertRawFrame(makeRawFrame(), kFull, 1, ConversionSettings{});
    const std::filesystem::path path =
        outputFolder() / (format == bayercam::app::OutputFormat::kPng ? "bench.png" : "bench.bgra");
    for (auto _ : state) bayercam::app::writeImageFile(path, format, frame.bgra, kFull);
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kFull.pixels()));
}
BENCHMARK(BM_WriteImageFile)
    ->ArgName("format")
    ->Arg(static_cast<int>(bayercam::app::OutputFormat::kPng))
    ->Arg(static_cast<int>(bayercam::app::OutputFormat::kBgra))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
