// Makes the camera's raw frames and keeps the last one: a still scene is drawn and sampled once,
// and a frame whose scene, number and sensor settings give the same bytes as the frame before
// is not made again.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "sim/bayer_mosaic.h"
#include "sim/scene.h"

namespace bayercam::sim {

class FrameRenderer {
  public:
    // The raw frame `n` of the scene with the settings (noiseSeed is taken as n); valid until the
    // next call.
    const std::vector<std::uint8_t>& render(const std::shared_ptr<const Scene>& scene,
                                            std::uint64_t n, MosaicSettings settings);

  private:
    // What the picture of a frame depends on: the scene, and its frame number when it moves.
    struct PictureKey {
        std::shared_ptr<const Scene> scene;
        std::uint64_t frame = 0;
        bool operator==(const PictureKey&) const = default;
    };
    // What the raw bytes depend on besides the picture; the noise only when not exact.
    struct LevelKey {
        bool exact = true;
        double scale = 1.0;
        std::uint64_t noiseSeed = 0;
        bool operator==(const LevelKey&) const = default;
    };

    RgbImage image_;
    std::vector<std::uint8_t> samples_;  // the picture's sample at each sensor site
    std::vector<std::uint8_t> raw_;
    std::optional<PictureKey> picture_;  // of samples_
    std::optional<LevelKey> levels_;     // of raw_, made from samples_
};

}  // namespace bayercam::sim
