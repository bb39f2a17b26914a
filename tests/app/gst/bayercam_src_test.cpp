// bayercamsrc in-process: caps and pictures against the reference for two regions and both
// flips, times and discontinuities, settings kept in the store, errors as bus messages, and a
// hundred runs that leave nothing behind.

// The platform's TRUE and FALSE come first; GLib keeps them.
#include "tests/driver/streaming/capture_fixture.h"
// GStreamer after the platform.
#include <gmock/gmock.h>
#include <gst/check/gstharness.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "app/gst/bayercam_src.h"
#include "app/lib/camera.h"
#include "tests/app/camera_reference.h"
#include "tests/app/scratch_dir.h"

namespace bayercam::app::testing {
namespace {

using bayercam::testing::Region;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

using BufferPtr = std::unique_ptr<GstBuffer, decltype(&gst_buffer_unref)>;

std::vector<std::uint8_t> bytesOf(GstBuffer* buffer) {
    GstMapInfo map;
    if (buffer == nullptr || !gst_buffer_map(buffer, &map, GST_MAP_READ)) return {};
    std::vector<std::uint8_t> bytes(map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
    return bytes;
}

// bayercamsrc in a GstHarness, registered in-process, with a settings store of the test's own.
// Every test ends with the kernel stand-in's leak check.
class SourceTest : public host::testing::KernelTest {
  protected:
    static void SetUpTestSuite() {
        // The element is registered here, so the tests need no plugin registry: none is
        // scanned or written.
        g_setenv("GST_REGISTRY_UPDATE", "no", TRUE);
        gst_init(nullptr, nullptr);
        gst_element_register(nullptr, "bayercamsrc", GST_RANK_NONE, BAYERCAM_TYPE_SRC);
    }
    void TearDown() override {
        stop();
        KernelTest::TearDown();
    }
    // Tears the harness down: the element stops and lets go of the camera.
    void stop() {
        if (harness_ != nullptr) gst_harness_teardown(std::exchange(harness_, nullptr));
        if (element_ != nullptr) gst_object_unref(std::exchange(element_, nullptr));
    }

    // A harness around bayercamsrc (element_) with these launch-line properties, playing
    // unless told.
    void play(const std::string& properties,
              const std::string& camera = "sim:scene=moving,exact,fps=15", bool start = true) {
        const std::string line =
            "bayercamsrc name=camera camera=" + camera + " registry=" + store() + " " + properties;
        harness_ = gst_harness_new_parse(line.c_str());
        element_ = gst_bin_get_by_name(GST_BIN(harness_->element), "camera");
        if (start) gst_harness_play(harness_);
    }
    BufferPtr pull() { return BufferPtr(gst_harness_pull(harness_), gst_buffer_unref); }
    std::string store() const { return (dir_ / "store.db").string(); }

    ScratchDir dir_;
    GstHarness* harness_ = nullptr;
    GstElement* element_ = nullptr;
};

constexpr GstClockTime kInterval = 33333300;  // the driver's 333333 x 100 ns
constexpr Region kFull{};
constexpr Region kPart{16, 8, 645, 480};  // its pictures are 640 wide

std::string regionProperties(const Region& r) {
    return "roi-x=" + std::to_string(r.x) + " roi-y=" + std::to_string(r.y) +
           " roi-width=" + std::to_string(r.width) + " roi-height=" + std::to_string(r.height);
}

// ---------------------------------------------------------------- caps and pictures

// The full sensor without flips, and a region whose width is no multiple of 8 with both flips.
TEST_F(SourceTest, CapsAndPicturesAreTheDriversWithTheRegionAndFlipsUpright) {
    for (const auto& [region, flips] : {std::pair{kFull, false}, std::pair{kPart, true}}) {
        SCOPED_TRACE(regionProperties(region));
        play(regionProperties(region) + (flips ? " flip-h=1 flip-v=1" : " flip-h=0 flip-v=0"));
        const BufferPtr buffer = pull();
        ASSERT_TRUE(buffer);
        EXPECT_GE(matchingMovingFrame(bytesOf(buffer.get()),
                                      std::int64_t(GST_BUFFER_OFFSET(buffer.get())), region, flips,
                                      flips),
                  0);
        GstCaps* caps = gst_pad_get_current_caps(harness_->sinkpad);
        g_autofree gchar* text = gst_caps_to_string(caps);
        gst_caps_unref(caps);
        EXPECT_EQ(std::string(text), "video/x-raw, format=(string)BGRx, width=(int)" +
                                         std::to_string(region.width / 8 * 8) + ", height=(int)" +
                                         std::to_string(region.height) +
                                         ", framerate=(fraction)30/1");
        stop();
    }
}

// ---------------------------------------------------------------- time

// The camera at its rate, with the streaming thread held once long enough for the driver to
// lose frames: offsets are picture numbers, exactly the gaps are DISCONT, and PTS follows the
// picture numbers at one frame interval each.
TEST_F(SourceTest, TimesFollowThePictureNumbersAndGapsAreDiscontinuities) {
    play("", "sim:scene=bars,exact");
    GstPad* pad = gst_element_get_static_pad(element_, "src");
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer) {
            std::this_thread::sleep_for(400ms);
            return GST_PAD_PROBE_REMOVE;
        },
        nullptr, nullptr);
    gst_object_unref(pad);
    std::vector<BufferPtr> buffers;
    for (int i = 0; i < 16; ++i) buffers.push_back(pull());
    int gaps = 0;
    for (std::size_t i = 1; i < buffers.size(); ++i) {
        GstBuffer* b = buffers[i].get();
        const bool gap = GST_BUFFER_OFFSET(b) != GST_BUFFER_OFFSET(buffers[i - 1].get()) + 1;
        gaps += gap;
        EXPECT_EQ(GST_BUFFER_FLAG_IS_SET(b, GST_BUFFER_FLAG_DISCONT), gap) << "buffer " << i;
        EXPECT_GT(GST_BUFFER_PTS(b), GST_BUFFER_PTS(buffers[i - 1].get())) << "buffer " << i;
        EXPECT_EQ(GST_BUFFER_DURATION(b), kInterval);
    }
    EXPECT_GE(gaps, 1) << "the held thread lost no frame";
    GstBuffer* first = buffers.front().get();
    GstBuffer* last = buffers.back().get();
    EXPECT_NEAR(double(GST_BUFFER_PTS(last) - GST_BUFFER_PTS(first)) /
                    double(GST_BUFFER_OFFSET(last) - GST_BUFFER_OFFSET(first)),
                double(kInterval), kInterval * 0.1);
    EXPECT_EQ(gst_harness_query_latency(harness_), kInterval);
}

// ---------------------------------------------------------------- errors

// The text of the next message of this type, the others before it dropped.
std::string nextMessage(GstBus* bus, GstMessageType type) {
    GstMessage* message = gst_bus_timed_pop_filtered(bus, 20 * GST_SECOND, type);
    if (message == nullptr) return "none";
    GError* error = nullptr;
    type == GST_MESSAGE_ERROR ? gst_message_parse_error(message, &error, nullptr)
                              : gst_message_parse_warning(message, &error, nullptr);
    const std::string text = error->message;
    g_error_free(error);
    gst_message_unref(message);
    return text;
}

// A bad camera option, an unusable store, and a camera that stops sending (warned about first).
TEST_F(SourceTest, TheRunEndsInAnElementErrorThatSaysWhy) {
    const std::tuple<const char*, const char*, const char*> causes[] = {
        {"camera=sim:fps=0", "", "fps must be 0.1 to 1000"},
        {"registry=/dev/null/store.db", "", "cannot use the settings store"},
        {"camera=sim:fps=0.1 timeout=501", "no frame from the camera for",
         "it stopped sending frames or is gone"},
    };
    for (const auto& [properties, warning, error] : causes) {
        SCOPED_TRACE(properties);
        play(properties, "sim", false);
        GstBus* bus = gst_bus_new();
        gst_element_set_bus(harness_->element, bus);
        gst_element_set_state(harness_->element, GST_STATE_PLAYING);
        if (*warning != '\0') {
            EXPECT_THAT(nextMessage(bus, GST_MESSAGE_WARNING), HasSubstr(warning));
        }
        EXPECT_THAT(nextMessage(bus, GST_MESSAGE_ERROR), HasSubstr(error));
        gst_object_unref(bus);
        stop();
    }
}

// ---------------------------------------------------------------- runs

// Each run opens the camera, streams and closes it. The leak check then finds the pool,
// requests, the stack's thread and device objects and handles as they were, and the store
// keeps the settings as the element shows them, though the driver holds the opposite FlipV
// while the element has the camera open.
TEST_F(SourceTest, AHundredRunsLeaveNothingBehindAndKeepTheSettings) {
    play("brightness=300 flip-v=1 " + regionProperties(kPart), "sim:scene=bars,exact,fps=max");
    for (int run = 0; run < 100; ++run) {
        ASSERT_TRUE(pull()) << "run " << run;
        ASSERT_EQ(gst_element_set_state(harness_->element, GST_STATE_NULL),
                  GST_STATE_CHANGE_SUCCESS);
        while (BufferPtr(gst_harness_try_pull(harness_), gst_buffer_unref)) {
        }
        gst_element_set_state(harness_->element, GST_STATE_PLAYING);
    }
    stop();
    Result<std::unique_ptr<Camera>> camera = Camera::open(CameraOptions{}, store());
    ASSERT_TRUE(camera) << camera.error().message;
    EXPECT_EQ(camera.value()->get("Brightness").value(), 300);
    EXPECT_EQ(camera.value()->get("FlipV").value(), 1);
    EXPECT_EQ(camera.value()->roi().value().width, kPart.width);
}

}  // namespace
}  // namespace bayercam::app::testing
