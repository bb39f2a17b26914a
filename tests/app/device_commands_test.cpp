// bayercam roi and info as processes: the region that persists, and what the camera offers.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/app/camera_tool.h"

namespace bayercam::app::testing {
namespace {

namespace fs = std::filesystem;

TEST_F(CameraTool, RegionPersistsAndIsShown) {
    expectOutput(run({"roi", "16", "8", "640", "480"}), "region: x 16, y 8, width 640, height 480");
    expectOutput(run({"roi"}), "region: x 16, y 8, width 640, height 480\npicture: 640x480");
}

TEST_F(CameraTool, InfoShowsPipesFormatAndStore) {
    const ToolRun info = run({"info"});
    expectOutput(info, "pipe 2: endpoint 0x83 bulk in");
    expectOutput(info, "Offered format: RGB32 1360x1024");
    expectOutput(info, "Settings store: " + registry_.string());
}

TEST_F(CameraTool, UnusableCameraIsAClearFailure) {
    expectError(run({"info"}, "sim:fps=fast"), 2, "fps must be");
    std::ofstream(dir_ / "notes.png") << "not a picture";
    expectError(run({"info"}, "sim:scene=" + (dir_ / "notes.png").string()), 1,
                "cannot set up the simulated camera: cannot read PNG");
    expectError(run({"info"}, "sim:scene=" + (dir_ / "missing.png").string()), 1,
                "No such file or directory");
}

}  // namespace
}  // namespace bayercam::app::testing
