// One soak run: the camera streams at its real rate for a given time through libbayercam while
// its settings change at random, with a report at every interval and a judgement at the end.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "app/lib/camera_options.h"

namespace bayercam::soak {

struct SoakSettings {
    double seconds = 300;
    double reportEvery = 30;
    double warmUp = 60;  // checkpoints before this are not held to a level
    std::uint64_t seed = 0;
    std::uint64_t residentToleranceKiB = 8 * 1024;
    bool judgeResidentMemory = true;  // off where a sanitizer's quarantine holds freed memory
    CameraOptions camera;
};

// Prints to out; returns 0 when the stream delivered frames and stayed flat, 1 otherwise,
// 2 when the camera could not be opened or started.
int runSoak(const SoakSettings& settings, std::ostream& out);

}  // namespace bayercam::soak
