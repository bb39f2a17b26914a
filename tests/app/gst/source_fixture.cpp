#include "tests/app/gst/source_fixture.h"

#include "app/gst/bayercam_src.h"
#include "sim/simulated_camera.h"

namespace bayercam::app::testing {

void SourceTest::SetUpTestSuite() {
    // The element is registered here, so the tests need no plugin registry: none is scanned
    // or written.
    g_setenv("GST_REGISTRY_UPDATE", "no", TRUE);
    gst_init(nullptr, nullptr);
    gst_element_register(nullptr, "bayercamsrc", GST_RANK_NONE, BAYERCAM_TYPE_SRC);
}

void SourceTest::TearDown() {
    if (harness_ != nullptr) gst_harness_teardown(harness_);
    if (element_ != nullptr) gst_object_unref(element_);
    KernelTest::TearDown();
}

GstHarness* SourceTest::make(const std::string& properties, const std::string& camera) {
    const std::string line =
        "bayercamsrc name=camera camera=" + camera + " registry=" + store() + " " + properties;
    harness_ = gst_harness_new_parse(line.c_str());
    element_ = gst_bin_get_by_name(GST_BIN(harness_->element), "camera");
    return harness_;
}

GstHarness* SourceTest::play(const std::string& properties, const std::string& camera) {
    gst_harness_play(make(properties, camera));
    return harness_;
}

BufferPtr SourceTest::pull() { return BufferPtr(gst_harness_pull(harness_), gst_buffer_unref); }

std::vector<std::uint8_t> bytesOf(GstBuffer* buffer) {
    GstMapInfo map;
    if (buffer == nullptr || !gst_buffer_map(buffer, &map, GST_MAP_READ)) return {};
    std::vector<std::uint8_t> bytes(map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
    return bytes;
}

bool matchesMovingScene(GstBuffer* buffer, const bayercam::testing::Region& region, bool flipH,
                        bool flipV) {
    // Exact frames carry the scene unchanged, so a camera of our own renders the same ones.
    static const sim::SimulatedCamera renderer({.exact = true, .scene = sim::makeMovingPattern()});
    host::ks::StreamFrame frame;
    frame.data = bytesOf(buffer);
    frame.frameInfo.PictureNumber = buffer ? ULONG(GST_BUFFER_OFFSET(buffer)) : 0;
    const LONG step = (region.width - region.width % 8) * 4;
    // A client frame with FlipV holds the rows top-down, as GStreamer does when flip-v is off.
    return bayercam::testing::MatchingCameraFrame(renderer, frame, region, {}, step, flipH,
                                                  !flipV) >= 0;
}

std::vector<std::uint8_t> barsPicture(bool flipH) {
    const sim::SimulatedCamera bars({.exact = true, .scene = sim::makeColorBars()});
    const bayercam::testing::Region full;
    const std::vector<std::uint8_t> picture =
        bayercam::testing::ReferencePicture(bars.renderFrame(0), full, {});
    return bayercam::testing::ExpectedClientFrame(picture, full, ULONG(picture.size()),
                                                  full.width * 4, flipH, true);
}

}  // namespace bayercam::app::testing
