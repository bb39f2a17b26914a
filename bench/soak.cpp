// soak: streams from the simulated camera at its real rate through the driver and the class
// driver's client for a given time, changing settings at random from a seed, and reports frames
// delivered and dropped, resident memory and pool usage as it goes. Exits 1 when no frames
// arrive or when, after a warm-up, pool usage or memory does not stay flat.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <random>
#include <string>

#include "bench/soak/soak_run.h"

// The address sanitizer keeps freed memory in a quarantine of its own, so resident memory grows
// for reasons that are not ours; a sanitizer build judges the pool only.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

int main(int argc, char** argv) {
    CLI::App app{"Streams from the simulated camera for a while and checks that memory stays flat",
                 "soak"};
    bayercam::soak::SoakSettings settings;
    std::uint64_t seed = std::random_device{}();
    double fps = 30;
    double reportEvery = 0;
    double warmUp = -1;
    double toleranceMiB = 8;
    std::string camera = "sim";
    app.add_option("--seconds", settings.seconds, "how long to stream")
        ->default_val(300)
        ->check(CLI::PositiveNumber);
    app.add_option("--fps", fps, "the camera's frame rate (30, or as --camera says)")
        ->check(CLI::PositiveNumber);
    app.add_option("--seed", seed, "seed of the setting changes (random when not given)");
    app.add_option("--report-every", reportEvery, "seconds between reports (a tenth of the run)")
        ->check(CLI::PositiveNumber);
    app.add_option("--warm-up", warmUp, "seconds before levels are held (a fifth of the run)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--rss-tolerance", toleranceMiB, "MiB resident memory may grow after warm-up")
        ->default_val(8)
        ->check(CLI::NonNegativeNumber);
    app.add_option("--camera", camera, "simulated camera options, as the bayercam tool takes them")
        ->default_val("sim");
    CLI11_PARSE(app, argc, argv);

    bayercam::Result<bayercam::CameraOptions> options = bayercam::parseCameraOptions(camera);
    if (!options) {
        std::cerr << "soak: " << options.error().message << "\n";
        return 2;
    }
    settings.camera = options.value();
    if (app.count("--fps") > 0) settings.camera.framesPerSecond = fps;
    settings.seed = seed;
    settings.reportEvery = reportEvery > 0 ? reportEvery : std::max(1.0, settings.seconds / 10);
    settings.warmUp = warmUp >= 0 ? warmUp : std::max(settings.reportEvery, settings.seconds / 5);
    settings.residentToleranceKiB = static_cast<std::uint64_t>(toleranceMiB * 1024);
    settings.judgeResidentMemory = !kAddressSanitizer;
    return bayercam::soak::runSoak(settings, std::cout);
}
