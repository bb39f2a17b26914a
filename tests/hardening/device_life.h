// One whole life of the driver over a camera that stays plugged in: load, attach (Add and
// Start), filter open, format intersection, pin creation, ACQUIRE, PAUSE, RUN with a few frames,
// PAUSE, STOP, pin close, filter close, device stop, detach and unload. Each step either
// succeeds or reports a status; the life goes forward only while the steps succeed, and then
// always tears down whatever was set up. The record says what each step reported and in which
// step an injected allocation failure hit.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/ks/frame_queue.h"
#include "platform/kernel.h"
#include "sim/simulated_camera.h"
#include "tests/driver/streaming/capture_fixture.h"

namespace bayercam::testing {

enum class LifeStep {
    Load,
    Attach,
    OpenFilter,
    Intersect,
    CreatePin,
    Acquire,
    Pause,
    Run,
    Frames,
    PauseAgain,
    Stop,
    ClosePin,
    CloseFilter,
    StopDevice,
    Detach,
    Unload,
};
constexpr std::size_t kLifeSteps = std::size_t(LifeStep::Unload) + 1;

const char* stepName(LifeStep step);

struct LifeRecord {
    // What each step reported; unset for the steps the life did not reach.
    std::array<std::optional<NTSTATUS>, kLifeSteps> status{};
    // The step during which the injected failure hit (the first whose end saw it counted).
    std::optional<LifeStep> hitStep;
    // The pictures delivered in the Frames step, and the device's region as they were taken.
    std::vector<host::ks::StreamFrame> pictures;
    Region deviceRegion;
    ULONG frameBytes = 0;
    // Whether the grabber had a thread while the frames were awaited.
    bool grabberThread = false;
    // The first step that reported a failure, if any.
    std::optional<LifeStep> firstFailure() const;
};

// The pictures the Frames step waits for.
constexpr int kLifePictures = 2;

// Lives the whole life once over the camera behind physicalDevice (whose registry key is bound),
// calling onStep as each step begins.
LifeRecord LiveDeviceLife(PDEVICE_OBJECT physicalDevice,
                          const std::function<void(LifeStep)>& onStep);

// What is wrong with the pictures of a life, one line each: a region that is not `region`, the
// stored one,
// a wrong size, or a picture that is no whole frame the camera sent. The comparison converts
// the camera's frames with the driver's own reference kernels, from the pool: no failure may be
// armed to count these allocations.
std::vector<std::string> PictureProblems(const LifeRecord& record,
                                         const sim::SimulatedCamera& camera, const Region& region);

}  // namespace bayercam::testing
