// The sensor noise generator: a 64-bit xorshift (13, 7, 17), one step per sample.
#pragma once

#include <cstdint>

namespace bayercam::sim {

constexpr std::uint64_t noiseStep(std::uint64_t x) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
}

// The state `steps` steps after x. The step is linear over GF(2), so this is a power of one
// 64 x 64 bit matrix applied to x: a few dozen matrix squarings instead of `steps` steps, which
// lets distant stretches of one sequence be generated side by side.
std::uint64_t noiseAdvance(std::uint64_t x, std::uint64_t steps);

}  // namespace bayercam::sim
