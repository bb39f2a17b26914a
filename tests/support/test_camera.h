// The camera the tests, fuzz targets and rigs use unless they need another: the moving test
// pattern, unchanged samples, and frames as fast as they are asked for.
#pragma once

#include "sim/scene.h"
#include "sim/simulated_camera.h"

namespace bayercam::testing {

inline sim::SimulatedCameraOptions TestCameraOptions() {
    return {.pacing = sim::FramePacing::AsFastAsPossible,
            .exact = true,
            .scene = sim::makeMovingPattern()};
}

}  // namespace bayercam::testing
