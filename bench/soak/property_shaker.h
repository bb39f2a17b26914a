// Random changes of the camera's live settings, drawn from a seed: each change sets one
// property, chosen at random, to a random value of its published range (0 or 1 for a switch).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "app/lib/camera.h"

namespace bayercam::soak {

class PropertyShaker {
  public:
    // Reads the ranges of the properties it changes; an error when the camera gives none.
    static Result<PropertyShaker> make(Camera& camera, std::uint64_t seed);

    // One change: "Exposure 517", or the camera's refusal.
    Result<std::string> changeOne(Camera& camera);

  private:
    struct Knob {
        std::string name;
        Range range;
    };
    PropertyShaker(std::vector<Knob> knobs, std::uint64_t seed)
        : knobs_(std::move(knobs)), random_(seed) {}

    std::vector<Knob> knobs_;
    std::mt19937_64 random_;
};

}  // namespace bayercam::soak
