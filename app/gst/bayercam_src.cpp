#include "app/gst/bayercam_src.h"

#include <gst/video/video.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "app/gst/camera_source.h"
#include "app/gst/frame_timeline.h"
#include "app/gst/setting_properties.h"

GST_DEBUG_CATEGORY_STATIC(bayercam_src_debug);
#define GST_CAT_DEFAULT bayercam_src_debug

namespace {

using bayercam::Error;
using bayercam::Frame;
using bayercam::Region;
using bayercam::Result;
using bayercam::VideoFormat;
using bayercam::app::CameraSource;
using bayercam::app::FrameTimeline;
using bayercam::app::kSensorHeight;
using bayercam::app::kSensorWidth;
using bayercam::app::settingIndex;
using bayercam::app::settingProperties;

// How long one frame wait lasts: the longest a stop or a pause waits for the streaming thread.
constexpr std::chrono::milliseconds kWaitSlice{50};
// Driver time-outs in a row, with no frame, after which the camera counts as gone.
constexpr int kTimeoutsBeforeError = 3;

enum Property : guint {
    kCamera = 1,
    kRegistry,
    kRoiX,
    kRoiY,
    kRoiWidth,
    kRoiHeight,
    kFirstSetting,
};

constexpr std::int32_t Region::*kRegionSides[] = {&Region::x, &Region::y, &Region::width,
                                                  &Region::height};

}  // namespace

// Everything the element holds but its GObject parts.
struct ElementState {
    explicit ElementState(BayercamSrc* element)
        : source([element](const std::string& message) {
              GST_ELEMENT_WARNING(element, RESOURCE, SETTINGS, ("%s", message.c_str()), (nullptr));
          }) {}

    CameraSource source;
    FrameTimeline timeline;  // streaming thread only
    std::atomic<bool> flushing{false};
    std::mutex optionsMutex;
    std::string camera = "sim";  // guarded by optionsMutex
    std::string registry;        // guarded by optionsMutex; empty: the tool's default store
};

struct _BayercamSrc {
    GstBaseSrc parent;
    ElementState* state;
};

G_DEFINE_TYPE(BayercamSrc, bayercam_src, GST_TYPE_BASE_SRC)

namespace {

ElementState& stateOf(gpointer element) { return *BAYERCAM_SRC(element)->state; }

GstCaps* capsOf(const VideoFormat& format) {
    const GstClockTime interval = GstClockTime(format.frameInterval) * 100;
    gint numerator = 0;
    gint denominator = 1;
    if (!gst_video_guess_framerate(interval, &numerator, &denominator)) {
        numerator = GST_SECOND / 100;
        denominator = gint(format.frameInterval);
    }
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT,
                               format.width, "height", G_TYPE_INT, format.height, "framerate",
                               GST_TYPE_FRACTION, numerator, denominator, nullptr);
}

GstCaps* templateCaps() {
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "framerate",
                                        GST_TYPE_FRACTION_RANGE, 0, 1, G_MAXINT, 1, nullptr);
    gst_caps_set_simple(caps, "width", GST_TYPE_INT_RANGE, 8, kSensorWidth, "height",
                        GST_TYPE_INT_RANGE, 8, kSensorHeight, nullptr);
    return caps;
}

// ---------------------------------------------------------------- properties

void installProperties(GObjectClass* objectClass) {
    const auto flags = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    const auto playing = GParamFlags(flags | GST_PARAM_MUTABLE_PLAYING);
    g_object_class_install_property(
        objectClass, kCamera,
        g_param_spec_string("camera", "Camera",
                            "Which camera, as the bayercam tool's --camera takes it: sim, "
                            "sim:scene=moving, sim:scene=FILE.png,exact, ...",
                            "sim", GParamFlags(flags | GST_PARAM_MUTABLE_READY)));
    g_object_class_install_property(
        objectClass, kRegistry,
        g_param_spec_string("registry", "Settings store",
                            "The settings store file; none: the bayercam tool's default "
                            "($BAYERCAM_REGISTRY, else $XDG_STATE_HOME/bayercam/registry.db)",
                            nullptr, GParamFlags(flags | GST_PARAM_MUTABLE_READY)));
    const gint width = kSensorWidth;
    const gint height = kSensorHeight;
    const char* const sides[][2] = {{"roi-x", "Left edge of the region of interest"},
                                    {"roi-y", "Top edge of the region of interest"},
                                    {"roi-width", "Width of the region (pictures are cut to 8)"},
                                    {"roi-height", "Height of the region of interest"}};
    const gint limits[][3] = {
        {0, width - 8, 0}, {0, height - 8, 0}, {8, width, width}, {8, height, height}};
    for (guint i = 0; i < 4; ++i) {
        g_object_class_install_property(
            objectClass, kRoiX + i,
            g_param_spec_int(sides[i][0], sides[i][0], sides[i][1], limits[i][0], limits[i][1],
                             limits[i][2], playing));
    }
    const std::span<const bayercam::app::SettingProperty> settings = settingProperties();
    for (std::size_t i = 0; i < settings.size(); ++i) {
        const std::string name = bayercam::app::hyphenatedName(settings[i].name);
        const bayercam::Range& range = settings[i].range;
        // The name is made here, so GObject keeps a copy of it.
        const auto copied =
            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_BLURB | GST_PARAM_MUTABLE_PLAYING);
        GParamSpec* spec =
            settings[i].isSwitch
                ? g_param_spec_boolean(name.c_str(), name.c_str(), settings[i].blurb,
                                       range.defaultValue != 0, copied)
                : g_param_spec_int(name.c_str(), name.c_str(), settings[i].blurb, range.minimum,
                                   range.maximum, range.defaultValue, copied);
        g_object_class_install_property(objectClass, guint(kFirstSetting + i), spec);
    }
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
    ElementState& state = stateOf(object);
    if (id == kCamera || id == kRegistry) {
        const char* text = g_value_get_string(value);
        std::lock_guard lock(state.optionsMutex);
        (id == kCamera ? state.camera : state.registry) = text ? text : id == kCamera ? "sim" : "";
    } else if (id >= kRoiX && id <= kRoiHeight) {
        state.source.setRegionSide(kRegionSides[id - kRoiX], g_value_get_int(value));
    } else if (id >= kFirstSetting && id < kFirstSetting + settingProperties().size()) {
        state.source.setSetting(id - kFirstSetting, G_VALUE_HOLDS_BOOLEAN(value)
                                                        ? g_value_get_boolean(value)
                                                        : g_value_get_int(value));
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
    }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
    ElementState& state = stateOf(object);
    if (id == kCamera || id == kRegistry) {
        std::lock_guard lock(state.optionsMutex);
        const std::string& text = id == kCamera ? state.camera : state.registry;
        g_value_set_string(value, text.empty() ? nullptr : text.c_str());
    } else if (id >= kRoiX && id <= kRoiHeight) {
        g_value_set_int(value, state.source.region().*kRegionSides[id - kRoiX]);
    } else if (id >= kFirstSetting && id < kFirstSetting + settingProperties().size()) {
        const std::int32_t setting = state.source.setting(id - kFirstSetting);
        if (G_VALUE_HOLDS_BOOLEAN(value)) {
            g_value_set_boolean(value, setting != 0);
        } else {
            g_value_set_int(value, setting);
        }
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
    }
}

// ---------------------------------------------------------------- the camera and the caps

gboolean start(GstBaseSrc* base) {
    ElementState& state = stateOf(base);
    std::string camera;
    std::string registry;
    {
        std::lock_guard lock(state.optionsMutex);
        camera = state.camera;
        registry = state.registry;
    }
    const bayercam::Status opened = state.source.open(camera, registry);
    if (!opened) {
        if (opened.error().kind == Error::Kind::kBadValue) {
            GST_ELEMENT_ERROR(base, RESOURCE, SETTINGS, ("%s", opened.error().message.c_str()),
                              ("camera '%s'", camera.c_str()));
        } else {
            GST_ELEMENT_ERROR(base, RESOURCE, OPEN_READ, ("%s", opened.error().message.c_str()),
                              ("camera '%s'", camera.c_str()));
        }
        return FALSE;
    }
    return TRUE;
}

gboolean stop(GstBaseSrc* base) {
    stateOf(base).source.close();
    return TRUE;
}

GstCaps* getCaps(GstBaseSrc* base, GstCaps* filter) {
    const std::optional<VideoFormat> format = stateOf(base).source.format();
    GstCaps* caps = format ? capsOf(*format) : gst_pad_get_pad_template_caps(base->srcpad);
    if (filter == nullptr) return caps;
    GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    return both;
}

gboolean query(GstBaseSrc* base, GstQuery* query) {
    if (GST_QUERY_TYPE(query) != GST_QUERY_LATENCY) {
        return GST_BASE_SRC_CLASS(bayercam_src_parent_class)->query(base, query);
    }
    const std::optional<VideoFormat> format = stateOf(base).source.format();
    if (!format) return FALSE;
    const GstClockTime interval = GstClockTime(format->frameInterval) * 100;
    gst_query_set_latency(query, TRUE, interval, interval);
    return TRUE;
}

gboolean unlock(GstBaseSrc* base) {
    stateOf(base).flushing = true;
    return TRUE;
}

gboolean unlockStop(GstBaseSrc* base) {
    stateOf(base).flushing = false;
    return TRUE;
}

// A pipeline that pauses stops the stream, so frames taken during the pause never come out
// late; the next frame starts a new run.
GstStateChangeReturn changeState(GstElement* element, GstStateChange transition) {
    const GstStateChangeReturn result =
        GST_ELEMENT_CLASS(bayercam_src_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PLAYING_TO_PAUSED) stateOf(element).source.stopStreaming();
    return result;
}

// ---------------------------------------------------------------- frames

// Waits in short slices, so that unlock() ends the wait soon. A stretch without frames as long
// as the driver's frame time-out is a warning, and kTimeoutsBeforeError of them an error; in
// external trigger mode the wait has no end.
GstFlowReturn waitForFrame(GstBaseSrc* base, Frame* frame) {
    ElementState& state = stateOf(base);
    static const std::size_t timeoutSetting = settingIndex("Timeout");
    static const std::size_t triggerSetting = settingIndex("ExTrigger");
    std::chrono::milliseconds waited{0};
    for (int timeouts = 0; !state.flushing;) {
        bool restarted = false;
        Result<Frame> next = state.source.nextFrame(kWaitSlice, &restarted);
        if (restarted) state.timeline.restart();
        if (next) {
            *frame = std::move(next).value();
            return GST_FLOW_OK;
        }
        if (next.error().kind != Error::Kind::kTimedOut) {
            GST_ELEMENT_ERROR(base, RESOURCE, READ, ("%s", next.error().message.c_str()),
                              (nullptr));
            return GST_FLOW_ERROR;
        }
        waited += kWaitSlice;
        const std::chrono::milliseconds timeout(state.source.setting(timeoutSetting));
        if (state.source.setting(triggerSetting) != 0 || waited < timeout * (timeouts + 1)) {
            continue;
        }
        const std::string text =
            "no frame from the camera for " + std::to_string(waited.count()) + " ms";
        if (++timeouts == kTimeoutsBeforeError) {
            GST_ELEMENT_ERROR(base, RESOURCE, READ,
                              ("%s: it stopped sending frames or is gone", text.c_str()),
                              (nullptr));
            return GST_FLOW_ERROR;
        }
        GST_ELEMENT_WARNING(base, RESOURCE, READ, ("%s; still waiting", text.c_str()), (nullptr));
    }
    return GST_FLOW_FLUSHING;
}

GstClockTime runningTimeNow(GstElement* element) {
    GstClock* clock = gst_element_get_clock(element);
    if (clock == nullptr) return GST_CLOCK_TIME_NONE;
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const GstClockTime base = gst_element_get_base_time(element);
    return now > base ? now - base : 0;
}

GstFlowReturn create(GstBaseSrc* base, guint64, guint, GstBuffer** out) {
    ElementState& state = stateOf(base);
    const Result<bool> regionChanged = state.source.applyRegionChange();
    if (!regionChanged) {
        GST_ELEMENT_ERROR(base, RESOURCE, SETTINGS, ("%s", regionChanged.error().message.c_str()),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    if (regionChanged.value() && !gst_base_src_negotiate(base)) return GST_FLOW_NOT_NEGOTIATED;
    Frame frame;
    if (const GstFlowReturn waited = waitForFrame(base, &frame); waited != GST_FLOW_OK) {
        return waited;
    }
    const FrameTimeline::Placement placement = state.timeline.place(
        frame.presentationTime, frame.pictureNumber, runningTimeNow(GST_ELEMENT(base)));
    const std::optional<VideoFormat> format = state.source.format();
    const std::uint64_t picture = std::uint64_t(frame.pictureNumber);
    GstBuffer* buffer = state.source.lender()->lend(std::move(frame));
    GST_BUFFER_OFFSET(buffer) = picture;
    GST_BUFFER_OFFSET_END(buffer) = picture + 1;
    if (format) GST_BUFFER_DURATION(buffer) = GstClockTime(format->frameInterval) * 100;
    if (!gst_base_src_get_do_timestamp(base)) GST_BUFFER_PTS(buffer) = placement.pts;
    if (placement.discont) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    *out = buffer;
    return GST_FLOW_OK;
}

void finalize(GObject* object) {
    delete BAYERCAM_SRC(object)->state;
    G_OBJECT_CLASS(bayercam_src_parent_class)->finalize(object);
}

}  // namespace

static void bayercam_src_class_init(BayercamSrcClass* klass) {
    GST_DEBUG_CATEGORY_INIT(bayercam_src_debug, "bayercamsrc", 0, "bayercam camera source");
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    objectClass->set_property = setProperty;
    objectClass->get_property = getProperty;
    objectClass->finalize = finalize;
    installProperties(objectClass);

    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(
        elementClass, "bayercam camera source", "Source/Video/Hardware",
        "Live BGRx video from a bayercam camera, its settings as properties",
        "bayercam developers");
    GstCaps* caps = templateCaps();
    gst_element_class_add_pad_template(
        elementClass, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);
    elementClass->change_state = changeState;

    GstBaseSrcClass* baseClass = GST_BASE_SRC_CLASS(klass);
    baseClass->start = start;
    baseClass->stop = stop;
    baseClass->get_caps = getCaps;
    baseClass->query = query;
    baseClass->unlock = unlock;
    baseClass->unlock_stop = unlockStop;
    baseClass->create = create;
}

static void bayercam_src_init(BayercamSrc* self) {
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
    self->state = new ElementState(self);
}
