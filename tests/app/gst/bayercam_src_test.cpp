// bayercamsrc in-process: caps and pictures against the reference for two regions and both
// flips, times and discontinuities, a setting and the region changed while playing, the
// published limits against the driver's, settings kept in the store, errors as bus messages,
// and a hundred runs that leave nothing behind.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "app/gst/setting_properties.h"
#include "tests/app/gst/source_fixture.h"

namespace bayercam::app::testing {
namespace {

using bayercam::testing::Region;
using namespace std::chrono_literals;

constexpr GstClockTime kInterval = 33333300;  // the driver's 333333 x 100 ns
constexpr Region kFull{};
constexpr Region kPart{16, 8, 645, 480};  // its pictures are 640 wide

std::string regionProperties(const Region& r) {
    return "roi-x=" + std::to_string(r.x) + " roi-y=" + std::to_string(r.y) +
           " roi-width=" + std::to_string(r.width) + " roi-height=" + std::to_string(r.height);
}

// ---------------------------------------------------------------- caps and pictures

struct PictureCase {
    const char* name;
    Region region;
    bool flipH;
    bool flipV;
};

void PrintTo(const PictureCase& c, std::ostream* out) { *out << c.name; }

class PictureTest : public SourceTest, public ::testing::WithParamInterface<PictureCase> {};

TEST_P(PictureTest, CapsAndPicturesAreTheDriversWithTheRegionAndFlipsUpright) {
    const PictureCase& c = GetParam();
    play(regionProperties(c.region) + " flip-h=" + (c.flipH ? "1" : "0") +
         " flip-v=" + (c.flipV ? "1" : "0"));
    const int width = c.region.width - c.region.width % 8;
    for (int i = 0; i < 2; ++i) {
        const BufferPtr buffer = pull();
        EXPECT_TRUE(matchesMovingScene(buffer.get(), c.region, c.flipH, c.flipV)) << "buffer " << i;
        const GstVideoMeta* meta = gst_buffer_get_video_meta(buffer.get());
        ASSERT_NE(meta, nullptr);
        EXPECT_EQ(meta->stride[0], width * 4);
    }
    GstCaps* caps = gst_pad_get_current_caps(harness_->sinkpad);
    GstCaps* expected = gst_caps_from_string(
        ("video/x-raw,format=BGRx,framerate=30/1,width=" + std::to_string(width) +
         ",height=" + std::to_string(c.region.height))
            .c_str());
    EXPECT_TRUE(gst_caps_is_equal(caps, expected)) << gst_caps_to_string(caps);
    gst_caps_unref(caps);
    gst_caps_unref(expected);
}

INSTANTIATE_TEST_SUITE_P(RegionsAndFlips, PictureTest,
                         ::testing::Values(PictureCase{"Full", kFull, false, false},
                                           PictureCase{"FullBothFlips", kFull, true, true},
                                           PictureCase{"RegionFlipV", kPart, false, true},
                                           PictureCase{"RegionFlipH", kPart, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

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

// ---------------------------------------------------------------- changes while playing

TEST_F(SourceTest, ASettingChangedWhilePlayingReachesTheNextFrames) {
    const std::vector<std::uint8_t> plain = barsPicture(false);
    const std::vector<std::uint8_t> mirrored = barsPicture(true);
    play("", "sim:scene=bars,exact");
    EXPECT_EQ(bytesOf(pull().get()), plain);
    while (BufferPtr(gst_harness_try_pull(harness_), gst_buffer_unref)) {
    }
    g_object_set(element_, "flip-h", TRUE, nullptr);
    // The frames the driver holds or hands over now are still of the old setting.
    int old = 0;
    while (old < 6 && bytesOf(pull().get()) == plain) ++old;
    EXPECT_LT(old, 6) << "no mirrored picture came";
    EXPECT_EQ(bytesOf(pull().get()), mirrored) << "the pictures after are mirrored";
    gboolean flipH = FALSE;
    g_object_get(element_, "flip-h", &flipH, nullptr);
    EXPECT_TRUE(flipH);
}

// Every buffer is a whole picture of one region or the other, its size as its meta says.
TEST_F(SourceTest, ARegionChangedWhilePlayingRenegotiates) {
    play("");
    pull();
    g_object_set(element_, "roi-x", kPart.x, "roi-y", kPart.y, "roi-width", kPart.width,
                 "roi-height", kPart.height, nullptr);
    const gsize full = 1360 * 1024 * 4;
    const gsize part = 640 * 480 * 4;
    BufferPtr buffer = pull();
    for (int i = 0; i < 10 && gst_buffer_get_size(buffer.get()) == full; ++i) buffer = pull();
    ASSERT_EQ(gst_buffer_get_size(buffer.get()), part);
    const GstVideoMeta* meta = gst_buffer_get_video_meta(buffer.get());
    EXPECT_EQ(meta->width * meta->height * 4, part);
    EXPECT_TRUE(matchesMovingScene(buffer.get(), kPart, false, false));
}

// ---------------------------------------------------------------- settings and limits

// What gst-inspect shows is what the driver publishes: each setting's range and default, and
// the sensor's size that bounds the region.
TEST_F(SourceTest, PublishedLimitsAreTheDriversOwn) {
    make("", "sim");
    Result<std::unique_ptr<Camera>> camera = Camera::open(CameraOptions{}, store());
    ASSERT_TRUE(camera) << camera.error().message;
    for (const SettingProperty& setting : settingProperties()) {
        const std::string name = hyphenatedName(setting.name);
        GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(element_), name.c_str());
        ASSERT_NE(spec, nullptr) << name;
        const bool ranged = camera.value()->property(setting.name).value().ranged();
        Range driver{0, 1, camera.value()->get(setting.name).value()};
        if (ranged) driver = camera.value()->range(setting.name).value();
        if (G_IS_PARAM_SPEC_BOOLEAN(spec)) {
            EXPECT_EQ(G_PARAM_SPEC_BOOLEAN(spec)->default_value, driver.defaultValue != 0) << name;
            continue;
        }
        EXPECT_EQ(G_PARAM_SPEC_INT(spec)->default_value, driver.defaultValue) << name;
        if (!ranged) continue;
        EXPECT_EQ(G_PARAM_SPEC_INT(spec)->minimum, driver.minimum) << name;
        EXPECT_EQ(G_PARAM_SPEC_INT(spec)->maximum, driver.maximum) << name;
    }
    EXPECT_EQ(camera.value()->get("SensorWidth").value(), kSensorWidth);
    EXPECT_EQ(camera.value()->get("SensorHeight").value(), kSensorHeight);
}

// The store keeps the settings as the element shows them, though the driver holds the opposite
// FlipV while the element has the camera open.
TEST_F(SourceTest, SettingsSetBeforePlayingAreStoredAsShown) {
    play("brightness=300 flip-v=1 " + regionProperties(kPart));
    pull();
    gst_harness_teardown(harness_);
    harness_ = nullptr;
    Result<std::unique_ptr<Camera>> camera = Camera::open(CameraOptions{}, store());
    ASSERT_TRUE(camera) << camera.error().message;
    EXPECT_EQ(camera.value()->get("Brightness").value(), 300);
    EXPECT_EQ(camera.value()->get("FlipV").value(), 1);
    EXPECT_EQ(camera.value()->roi().value().width, kPart.width);
}

// ---------------------------------------------------------------- errors

struct ErrorCase {
    const char* name;
    const char* camera;
    const char* properties;
    const char* warning;  // before the error; "" for none
    const char* error;
};

void PrintTo(const ErrorCase& c, std::ostream* out) { *out << c.name; }

class ErrorTest : public SourceTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ErrorTest, TheRunEndsInAnElementErrorThatSaysWhy) {
    make(GetParam().properties, GetParam().camera);
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(harness_->element, bus);
    gst_element_set_state(harness_->element, GST_STATE_PLAYING);
    std::string warnings;
    std::string error;
    while (GstMessage* message = gst_bus_timed_pop_filtered(
               bus, 20 * GST_SECOND, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_WARNING))) {
        GError* text = nullptr;
        const bool isError = GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR;
        isError ? gst_message_parse_error(message, &text, nullptr)
                : gst_message_parse_warning(message, &text, nullptr);
        (isError ? error : warnings) += text->message;
        g_error_free(text);
        gst_message_unref(message);
        if (isError) break;
    }
    gst_object_unref(bus);
    EXPECT_NE(warnings.find(GetParam().warning), std::string::npos) << warnings;
    EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Causes, ErrorTest,
    ::testing::Values(ErrorCase{"BadCamera", "sim:fps=0", "", "", "fps must be 0.1 to 1000"},
                      ErrorCase{"UnusableStore", "sim", "registry=/dev/null/store.db", "",
                                "cannot use the settings store"},
                      ErrorCase{"NoFrames", "sim:fps=0.1", "timeout=501",
                                "no frame from the camera for",
                                "it stopped sending frames or is gone"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- runs

int threadsNamed(std::initializer_list<std::string> names) {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        count += std::find(names.begin(), names.end(), name) != names.end();
    }
    return count;
}

// Each run opens the camera, streams and closes it. Afterwards none of the stack's threads is
// left, and the leak check finds pool, requests, device objects and handles as they were.
TEST_F(SourceTest, AHundredRunsFromNullToPlayingLeaveNothingBehind) {
    play("", "sim:scene=bars,exact,fps=max");
    for (int run = 0; run < 100; ++run) {
        ASSERT_TRUE(pull()) << "run " << run;
        ASSERT_EQ(gst_element_set_state(harness_->element, GST_STATE_NULL),
                  GST_STATE_CHANGE_SUCCESS);
        while (BufferPtr(gst_harness_try_pull(harness_), gst_buffer_unref)) {
        }
        gst_element_set_state(harness_->element, GST_STATE_PLAYING);
    }
    gst_harness_teardown(harness_);
    harness_ = nullptr;
    EXPECT_EQ(threadsNamed({"usb-bus", "ks-processing", "system-thread"}), 0);
}

}  // namespace
}  // namespace bayercam::app::testing
