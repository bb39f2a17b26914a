// The generated scenes: colour bars and the moving pattern that carries the frame number.
#include <array>
#include <cstring>

#include "sim/camera_protocol.h"
#include "sim/scene.h"

namespace bayercam::sim {
namespace {

// The frame number is drawn as 32 bits and their complement, most significant first, each bit a
// cell of kCellSize x kCellSize pixels (so every Bayer colour of a cell carries it) on the top
// rows: white for 1, black for 0.
constexpr int kCellSize = 8;
constexpr int kCodeBits = 64;

class ColorBars final : public Scene {
  public:
    // One row is drawn; every other row is a copy of it.
    void render(std::uint64_t, RgbImage& out) const override {
        static constexpr std::array<std::array<std::uint8_t, 3>, 8> kBars{{
            {255, 255, 255},
            {255, 255, 0},
            {0, 255, 255},
            {0, 255, 0},
            {255, 0, 255},
            {255, 0, 0},
            {0, 0, 255},
            {0, 0, 0},
        }};
        if (out.height <= 0 || out.width <= 0) return;
        for (int x = 0; x < out.width; ++x) {
            const auto& bar = kBars[std::size_t(x) * kBars.size() / out.width];
            std::uint8_t* p = out.pixel(x, 0);
            p[0] = bar[0];
            p[1] = bar[1];
            p[2] = bar[2];
        }
        const std::size_t rowBytes = std::size_t(out.width) * 3;
        for (int y = 1; y < out.height; ++y) {
            std::memcpy(out.pixel(0, y), out.pixel(0, 0), rowBytes);
        }
    }
    bool changesWithFrame() const override { return false; }
};

bool codeBit(std::uint32_t number, int bit) {
    std::uint64_t code = (std::uint64_t{number} << 32) | std::uint32_t(~number);
    return ((code >> (kCodeBits - 1 - bit)) & 1) != 0;
}

class MovingPattern final : public Scene {
  public:
    void render(std::uint64_t frameNumber, RgbImage& out) const override {
        auto n = static_cast<std::uint32_t>(frameNumber);
        for (int y = 0; y < out.height; ++y) {
            for (int x = 0; x < out.width; ++x) {
                std::uint8_t* p = out.pixel(x, y);
                if (y < kCellSize && x < kCellSize * kCodeBits) {
                    std::uint8_t level = codeBit(n, x / kCellSize) ? 255 : 0;
                    p[0] = p[1] = p[2] = level;
                    continue;
                }
                p[0] = static_cast<std::uint8_t>(x + 4 * n);
                p[1] = static_cast<std::uint8_t>(y + 2 * n);
                p[2] = static_cast<std::uint8_t>(x + y + n);
            }
        }
    }
};

}  // namespace

std::shared_ptr<const Scene> makeColorBars() { return std::make_shared<ColorBars>(); }

std::shared_ptr<const Scene> makeMovingPattern() { return std::make_shared<MovingPattern>(); }

std::optional<std::uint32_t> decodeFrameNumber(std::span<const std::uint8_t> raw,
                                               std::size_t stride) {
    if (stride < std::size_t{kCellSize} * kCodeBits || raw.size() < stride * kCellSize) {
        return std::nullopt;
    }
    std::uint64_t code = 0;
    for (int bit = 0; bit < kCodeBits; ++bit) {
        unsigned sum = 0;
        for (int y = 0; y < kCellSize; ++y) {
            for (int x = 0; x < kCellSize; ++x) sum += raw[y * stride + bit * kCellSize + x];
        }
        code = (code << 1) | (sum >= 128u * kCellSize * kCellSize ? 1 : 0);
    }
    auto number = static_cast<std::uint32_t>(code >> 32);
    if (static_cast<std::uint32_t>(code) != std::uint32_t(~number)) return std::nullopt;
    return number;
}

}  // namespace bayercam::sim
