// Test support for the pixel kernels: a bordered work buffer with the conversion's geometry,
// placed so that its last byte touches an inaccessible page (an overread faults at once), and
// an output frame placed the same way (an overrun faults). The geometry is computed here from
// the layout rules, independently of SetFrameSize.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "driver/pixel/pixel_kernels.h"
#include "driver/streaming/color_pipeline.h"

namespace bayercam::testing {

// A block of `bytes` whose end touches a PROT_NONE page.
class GuardedBlock {
  public:
    explicit GuardedBlock(std::size_t bytes);
    ~GuardedBlock();
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return bytes_; }

  private:
    void* mapping_ = nullptr;
    std::size_t mappingBytes_ = 0;
    std::uint8_t* data_ = nullptr;
    std::size_t bytes_ = 0;
};

using Pixel = std::array<std::uint8_t, 4>;  // blue, green, red, 255

// The name of a kernel level in a parameterised test's name.
inline std::string LevelName(PixelIsa level) {
    const char* const names[] = {"Reference", "Sse2", "Avx2", "Avx512"};
    return names[level];
}

class WorkFrame {
  public:
    WorkFrame(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }

    // Image sample (y, x), y in -2 .. H+1 and x in -2 .. W+1, or further into the padding.
    std::uint8_t& at(int y, int x);
    // Every byte of the buffer, padding included.
    void fill(std::uint8_t value);
    void fillRandom(std::mt19937& rng);

    void setGains(std::uint32_t red, std::uint32_t green, std::uint32_t blue);
    // kernelMatrix and matrixPositive as the snapshot writes them.
    void setMatrix(const std::array<std::int32_t, 16>& matrix);
    void setIdentityMatrix();

    // Runs a colour or grey member into a fresh guarded frame and returns the frame.
    std::vector<std::uint8_t> convert(ConvertKernel kernel);
    // Runs a measurement member starting from the given results; returns red, green, blue.
    std::array<std::uint32_t, 3> measure(MeasureKernel kernel,
                                         std::array<std::uint32_t, 3> initial = {0, 0, 0});

    Pixel pixel(const std::vector<std::uint8_t>& frame, int y, int x) const;

  private:
    int width_;
    int height_;
    int stride_;
    GuardedBlock buffer_;
    ColorPipeline pipeline_{};
};

}  // namespace bayercam::testing
