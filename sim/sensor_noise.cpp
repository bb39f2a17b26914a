#include "sim/sensor_noise.h"

#include <array>

namespace bayercam::sim {

namespace {

// Column i is the image of bit i.
using BitMatrix = std::array<std::uint64_t, 64>;

std::uint64_t applyMatrix(const BitMatrix& m, std::uint64_t x) {
    std::uint64_t y = 0;
    for (; x != 0; x &= x - 1) y ^= m[static_cast<unsigned>(__builtin_ctzll(x))];
    return y;
}

BitMatrix square(const BitMatrix& m) {
    BitMatrix product{};
    for (int i = 0; i < 64; ++i) product[i] = applyMatrix(m, m[i]);
    return product;
}

}  // namespace

std::uint64_t noiseAdvance(std::uint64_t x, std::uint64_t steps) {
    BitMatrix power{};
    for (int i = 0; i < 64; ++i) power[i] = noiseStep(std::uint64_t{1} << i);
    // Powers of one matrix commute, so the bits of `steps` may be applied in any order.
    for (; steps != 0; steps >>= 1) {
        if ((steps & 1) != 0) x = applyMatrix(power, x);
        if (steps > 1) power = square(power);
    }
    return x;
}

}  // namespace bayercam::sim
