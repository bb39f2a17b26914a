#include "sim/frame_renderer.h"

#include "sim/camera_protocol.h"

namespace bayercam::sim {

const std::vector<std::uint8_t>& FrameRenderer::render(const std::shared_ptr<const Scene>& scene,
                                                       std::uint64_t n, MosaicSettings settings) {
    settings.noiseSeed = n;
    const PictureKey picture{scene, scene->changesWithFrame() ? n : 0};
    const LevelKey levels =
        settings.exact ? LevelKey{} : LevelKey{false, settings.scale, settings.noiseSeed};
    if (picture_ != picture) {
        if (image_.rgb.empty()) {
            image_ =
                RgbImage{kSensorWidth, kSensorHeight, std::vector<std::uint8_t>(kFrameBytes * 3)};
            samples_.resize(kFrameBytes);
            raw_.resize(kFrameBytes);
        }
        scene->render(n, image_);
        sampleSites(image_, samples_);
        picture_ = picture;
        levels_.reset();
    }
    if (levels_ != levels) {
        applySensorLevels(samples_, raw_, settings);
        levels_ = levels;
    }
    return raw_;
}

}  // namespace bayercam::sim
