// bayercamsrc in a GstHarness: the element registered in-process, a settings store of the
// test's own, and the camera's pictures read back as the driver's client frames, to be held
// against the reference conversion. Every test ends with the kernel stand-in's leak check.
#pragma once

// The platform's TRUE and FALSE come first; GLib keeps them.
#include "tests/driver/streaming/capture_fixture.h"
// GStreamer after the platform.
#include <gst/check/gstharness.h>
#include <gst/video/video.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/app/scratch_dir.h"

namespace bayercam::app::testing {

using BufferPtr = std::unique_ptr<GstBuffer, decltype(&gst_buffer_unref)>;

class SourceTest : public host::testing::KernelTest {
  protected:
    static void SetUpTestSuite();
    void TearDown() override;

    // A harness around bayercamsrc (element_) with these launch-line properties; play() also
    // starts it.
    GstHarness* make(const std::string& properties, const std::string& camera);
    GstHarness* play(const std::string& properties,
                     const std::string& camera = "sim:scene=moving,exact,fps=15");
    BufferPtr pull();
    std::string store() const { return (dir_ / "store.db").string(); }

    ScratchDir dir_;
    GstHarness* harness_ = nullptr;
    GstElement* element_ = nullptr;
};

std::vector<std::uint8_t> bytesOf(GstBuffer* buffer);

// True when the buffer is the reference picture of a recent frame of the moving scene, with
// the region and flips as the element shows them (rows top-down).
bool matchesMovingScene(GstBuffer* buffer, const bayercam::testing::Region& region, bool flipH,
                        bool flipV);

// The picture of the colour bars as the element shows it, full sensor.
std::vector<std::uint8_t> barsPicture(bool flipH);

}  // namespace bayercam::app::testing
