// The library and the tool with --camera usb, end to end: the real libusb, the libusb bus, the
// unchanged driver and the simulated camera emulated below libusb.
#include <gtest/gtest.h>

#include <thread>

#include "app/lib/camera.h"
#include "bayercam/usb_ids.h"
#include "sim/simulated_camera.h"
#include "tests/app/scratch_dir.h"
#include "tests/app/tool_process.h"
#include "tests/host/usb/libusb_rig.h"

namespace bayercam::app::testing {
namespace {

using namespace std::chrono_literals;

// "vvvv:pppp" (upper: false) or "VID_VVVV&PID_PPPP" (upper: true) for the build's ids.
std::string idsText(bool upper) {
    char text[32];
    std::snprintf(text, sizeof text, upper ? "VID_%04X&PID_%04X" : "%04x:%04x", kCameraUsbVendorId,
                  kCameraUsbProductId);
    return text;
}

class LibusbCameraTest : public ::testing::Test {
  protected:
    void SetUp() override { rig.plug(simulated); }

    std::unique_ptr<Camera> open(const std::string& choice) {
        Result<CameraOptions> options = parseCameraOptions(choice);
        EXPECT_TRUE(options) << options.error().message;
        Result<std::unique_ptr<Camera>> opened = Camera::open(options.value(), dir / "registry.db");
        EXPECT_TRUE(opened) << opened.error().message;
        return opened ? std::move(opened).value() : nullptr;
    }

    ScratchDir dir;
    sim::SimulatedCamera simulated{{.pacing = sim::FramePacing::FixedRate,
                                    .framesPerSecond = 30.0,
                                    .exact = true,
                                    .scene = sim::makeMovingPattern(),
                                    .logPackets = false}};
    host::testing::LibusbRig rig;
};

// Unplugged mid-stream, the camera is gone; plugged in again, it starts from power-up.
TEST_F(LibusbCameraTest, UnplugWhileStreamingSaysTheCameraIsGoneAndReplugStreamsAgain) {
    auto camera = open("usb");
    ASSERT_NE(camera, nullptr);
    ASSERT_TRUE(camera->start());
    ASSERT_TRUE(camera->nextFrame(5000ms));
    rig.unplug();
    const Result<Frame> after = camera->nextFrame(5000ms);
    ASSERT_FALSE(after);
    EXPECT_NE(after.error().message.find("unplugged"), std::string::npos) << after.error().message;
    camera.reset();
    sim::SimulatedCamera replugged{{.exact = true, .scene = nullptr, .logPackets = false}};
    rig.plug(replugged);
    camera = open("usb");
    ASSERT_NE(camera, nullptr);
    ASSERT_TRUE(camera->start());
    EXPECT_TRUE(camera->nextFrame(5000ms));
    camera.reset();
    rig.unplug();
}

// A camera plugged in while the tool waits for one is taken; without one, the wait ends.
TEST_F(LibusbCameraTest, ToolWaitsForACameraToBePluggedIn) {
    rig.unplug();
    const std::string registry = (dir / "r.db").string();
    const ToolRun none =
        runBayercam({"--camera", "usb", "--wait", "0.3", "--registry", registry, "info"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("plugged in within 0.3 s"), std::string::npos) << none.err;
    std::thread plugger([this] {
        std::this_thread::sleep_for(500ms);
        rig.plug(simulated);
    });
    const ToolRun info =
        runBayercam({"--camera", "usb", "--wait", "20", "--registry", registry, "info"});
    plugger.join();
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("BC0042"), std::string::npos) << info.out;
}

TEST_F(LibusbCameraTest, ToolReachesTheCameraThroughUsb) {
    const ToolRun info =
        runBayercam({"--camera", "usb", "--registry", (dir / "r.db").string(), "info"});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("USB\\" + idsText(true) + "\\BC0042"), std::string::npos) << info.out;

    const ToolRun list = runBayercam({"list", "--json"});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("\"camera\": \"usb:" + idsText(false) + ":BC0042\""), std::string::npos)
        << list.out;

    rig.setClaimedElsewhere(true);
    const ToolRun busy =
        runBayercam({"--camera", "usb", "--registry", (dir / "r.db").string(), "info"});
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_NE(busy.err.find("busy"), std::string::npos) << busy.err;
    const ToolRun claimed = runBayercam({"list"});
    EXPECT_NE(claimed.out.find("cannot be opened: busy"), std::string::npos) << claimed.out;
}

}  // namespace
}  // namespace bayercam::app::testing
