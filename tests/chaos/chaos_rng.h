// The runner's random numbers: splitmix64, fully defined here so that a seed gives the same
// numbers with every compiler and standard library (std distributions are not portable).
#pragma once

#include <cstdint>
#include <initializer_list>

namespace bayercam::chaos {

class ChaosRng {
  public:
    explicit ChaosRng(std::uint64_t seed) noexcept : state_(seed) {}
    // A generator for one named stream of a run (a lane, a camera), independent of the others.
    ChaosRng(std::uint64_t seed, std::uint64_t stream) noexcept
        : state_(seed ^ (stream + 1) * 0xD1B54A32D192ED03ull) {
        next();
    }

    std::uint64_t next() noexcept {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, bound); bound must be above zero.
    std::uint64_t below(std::uint64_t bound) noexcept {
        return static_cast<std::uint64_t>((static_cast<unsigned __int128>(next()) * bound) >> 64);
    }
    // Uniform in [low, high].
    std::int64_t between(std::int64_t low, std::int64_t high) noexcept {
        return low + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(high - low) + 1));
    }
    // True with probability percent / 100.
    bool chance(unsigned percent) noexcept { return below(100) < percent; }

    template <class T>
    T pick(std::initializer_list<T> choices) noexcept {
        return choices.begin()[below(choices.size())];
    }

  private:
    std::uint64_t state_;
};

}  // namespace bayercam::chaos
