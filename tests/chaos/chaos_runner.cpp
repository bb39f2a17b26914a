// The chaos runner: from one seed, for a given time, one or two simulated cameras are attached,
// removed, stopped, started, unplugged and plugged in again while filters open and close, pins
// change state, frames flow, properties are fuzzed and the camera and the pool fail on purpose.
// Every action runs under a deadline; a hang ends the run with the seed and the recent actions.
// At the end everything is torn down and the kernel's books must balance.
//
//   chaos_runner [--seed N] [--seconds S] [--cameras K] [--deadline S] [--verbose]
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "driver/entry/driver_entry.h"
#include "host/kernel/failure_injection.h"
#include "tests/chaos/chaos_lane.h"
#include "tests/support/deadline.h"
#include "tests/support/kernel_snapshot.h"
#include "tests/support/scratch_registry.h"
#include "tests/support/test_camera.h"

namespace bayercam::chaos {
namespace {

struct RunOptions {
    std::uint64_t seed = 0;
    double seconds = 60;
    int cameras = 2;
    double deadlineSeconds = 30;
    bool verbose = false;
};

constexpr std::size_t kLoggedActions = 40;
constexpr std::size_t kFindingsWithHistory = 3;

std::uint64_t timeDerivedSeed() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
               std::chrono::duration_cast<std::chrono::microseconds>(now).count()) ^
           (static_cast<std::uint64_t>(getpid()) << 40);
}

void printLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) std::printf("  %s\n", line.c_str());
}

// The camera a slot holds: its pace, clock and pixel exactness drawn from the seed.
sim::SimulatedCameraOptions cameraOptions(std::uint64_t seed, int index) {
    ChaosRng rng(seed, 1000 + std::uint64_t(index));
    sim::SimulatedCameraOptions options = testing::TestCameraOptions();
    if (!rng.chance(20)) options.pacing = sim::FramePacing::FixedRate;
    options.framesPerSecond = rng.pick<double>({7.5, 15.0, 30.0, 60.0});
    options.clockMode = rng.pick<std::uint8_t>({0, 1, 1});
    options.exact = rng.chance(50);
    return options;
}

class ChaosRun {
  public:
    explicit ChaosRun(const RunOptions& options)
        : options_(options),
          record_(kLoggedActions, options.verbose),
          deadline_(std::int64_t(options.deadlineSeconds * 1000)) {}

    int run();

  private:
    void hang(const std::string& what);
    void fault(int lane, std::uint64_t step, const std::string& what);
    void runLanes(host::ks::KsClient& client, std::vector<std::unique_ptr<CameraSlot>>& slots);

    const RunOptions options_;
    RunRecord record_;
    const std::chrono::milliseconds deadline_;
    std::mutex reportMutex_;
    std::size_t reported_ = 0;  // guarded by reportMutex_
};

void ChaosRun::hang(const std::string& what) {
    std::printf("HANG: seed %llu: %s is still running after %.1f s\nrecent actions:\n",
                static_cast<unsigned long long>(options_.seed), what.c_str(),
                options_.deadlineSeconds);
    printLines(record_.recent());
    std::printf("replay: chaos_runner --seed %llu --cameras %d\n",
                static_cast<unsigned long long>(options_.seed), options_.cameras);
    std::fflush(stdout);
    // The hung thread cannot be torn down; ending the process is the only way out.
    std::_Exit(2);
}

void ChaosRun::fault(int lane, std::uint64_t step, const std::string& what) {
    const std::string line =
        "lane " + std::to_string(lane) + " #" + std::to_string(step) + ": " + what;
    record_.finding(line);
    std::lock_guard lock(reportMutex_);
    std::printf("FAULT: seed %llu: %s\n", static_cast<unsigned long long>(options_.seed),
                line.c_str());
    if (reported_++ < kFindingsWithHistory) {
        std::printf("recent actions:\n");
        printLines(record_.recent());
    }
    std::fflush(stdout);
}

void ChaosRun::runLanes(host::ks::KsClient& client,
                        std::vector<std::unique_ptr<CameraSlot>>& slots) {
    RunShared shared{
        options_.seed,
        client,
        {},
        record_,
        deadline_,
        [this](const std::string& what) { hang(what); },
        [this](int lane, std::uint64_t step, const std::string& what) { fault(lane, step, what); }};
    std::vector<std::unique_ptr<ChaosLane>> lanes;
    for (auto& slot : slots) {
        lanes.push_back(
            std::make_unique<ChaosLane>(2 * slot->index, LaneRole::Device, *slot, shared));
        lanes.push_back(
            std::make_unique<ChaosLane>(2 * slot->index + 1, LaneRole::Client, *slot, shared));
    }
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(std::int64_t(options_.seconds * 1000));
    std::vector<std::thread> threads;
    for (auto& lane : lanes) threads.emplace_back([&lane, until] { lane->run(until); });
    for (std::thread& thread : threads) thread.join();
}

int ChaosRun::run() {
    const testing::ScratchRegistry registry;
    const host::testing::KernelSnapshot audit;
    auto client = std::make_unique<host::ks::KsClient>();
    if (NTSTATUS status = client->loadDriver(DriverEntry); status != STATUS_SUCCESS) {
        std::printf("the driver did not load: %s\n", statusName(status).c_str());
        return 1;
    }
    std::vector<std::unique_ptr<CameraSlot>> slots;
    for (int k = 0; k < options_.cameras; ++k) {
        slots.push_back(std::make_unique<CameraSlot>(k, cameraOptions(options_.seed, k)));
    }
    runLanes(*client, slots);

    const std::size_t injected = host::injection::injectedCount();
    host::injection::reset();
    testing::WithDeadline(
        "teardown", deadline_,
        [&] {
            for (auto& slot : slots) removeCamera(*slot, *client, record_);
            slots.clear();
            client.reset();
        },
        [this] { hang("teardown"); });
    const std::string left = audit.problems(std::chrono::seconds(2));
    for (const std::string& line : record_.summary(injected)) std::printf("%s\n", line.c_str());
    std::printf("left behind at the end:\n%s", left.c_str());
    const bool clean = left.empty() && record_.findings() == 0;
    std::printf("%s: seed %llu\n", clean ? "PASS" : "FAIL",
                static_cast<unsigned long long>(options_.seed));
    return clean ? 0 : 1;
}

}  // namespace
}  // namespace bayercam::chaos

int main(int argc, char** argv) {
    bayercam::chaos::RunOptions options;
    CLI::App app{"Mixes device, streaming, property and fault actions from a seed, for a time."};
    std::optional<std::uint64_t> seed;
    app.add_option("--seed", seed, "the run's seed (default: derived from the time)");
    app.add_option("--seconds", options.seconds, "how long to run")->check(CLI::PositiveNumber);
    app.add_option("--cameras", options.cameras, "simulated cameras")->check(CLI::Range(1, 2));
    app.add_option("--deadline", options.deadlineSeconds, "seconds any one action may take")
        ->check(CLI::PositiveNumber);
    app.add_flag("--verbose", options.verbose, "print every action as it ends");
    CLI11_PARSE(app, argc, argv);
    options.seed = seed.value_or(bayercam::chaos::timeDerivedSeed());
    std::printf("chaos seed %llu\n", static_cast<unsigned long long>(options.seed));
    std::fflush(stdout);
    return bayercam::chaos::ChaosRun(options).run();
}
