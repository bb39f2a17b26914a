// bayercam roi and info as processes: the region that persists, and what the camera offers.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/app/camera_tool.h"

namespace bayercam::app::testing {
namespace {

namespace fs = std::filesystem;

TEST_F(CameraTool, RegionPersistsAndIsShown) {
    expectOutput(run({"roi", "16", "8", "640", "480"}), "region: x 16, y 8, width 640, height 480");
    expectOutput(run({"roi"}), "region: x 16, y 8, width 640, height 480\npicture: 640x480");
    const nlohmann::json json = nlohmann::json::parse(run({"roi", "--json"}).out);
    EXPECT_EQ(json["region"]["x"], 16);
    EXPECT_EQ(json["picture"]["height"], 480);
}

// A picture is whole groups of 8 columns: a region narrower gives none.
TEST_F(CameraTool, RegionWithoutAPictureIsRefusedAndAStoredOneFailsACaptureAtOnce) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"roi", "0", "0", "7", "7"}, "the smallest region there is 0 0 8 7"},
        {{"roi", "1353", "0", "7", "7"}, "the smallest region there is 1352 0 8 7"},
        {{"roi", "1", "2"}, "roi takes four numbers"},
    };
    for (const auto& [args, fragment] : cases) expectError(run(args), 2, fragment);
    expectOutput(run({"roi", "8", "0", "640", "480"}), "picture: 640x480");
    // A store written before regions were checked may hold one.
    sqlite3* store = nullptr;
    ASSERT_EQ(sqlite3_open(registry_.c_str(), &store), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(store, "UPDATE key_values SET data = X'07000000' WHERE name = 'RoiW'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(store);
    expectError(run({"capture", "-n", "1", "-o", (dir_ / "never").string()}), 1, "empty picture");
    EXPECT_FALSE(fs::exists(dir_ / "never"));
}

TEST_F(CameraTool, InfoShowsPipesFormatAndStore) {
    const ToolRun info = run({"info"});
    expectOutput(info, "Instance path: USB\\VID_1D50&PID_6A31\\5&2C1A3F&0&1\nInterface 0");
    expectOutput(info, "Offered format: RGB32 1360x1024");
    expectOutput(info, "Settings store: " + registry_.string());
    expectOutput(info, "Frame rate: as fast as frames are asked for");
    expectOutput(run({"info"}, "sim:fps=0.2"), "Frame rate: 0.2 frames a second");
    const nlohmann::json json = nlohmann::json::parse(run({"info", "--json"}, "sim:fps=0.2").out);
    EXPECT_EQ(json["pipes"][2]["endpoint"], 0x83);
    EXPECT_EQ(json["framesPerSecond"], 0.2);
}

TEST_F(CameraTool, UnusableCameraIsAClearFailure) {
    std::ofstream(dir_ / "notes.png") << "not a picture";
    expectError(run({"info"}, "sim:scene=" + (dir_ / "notes.png").string()), 1,
                "cannot set up the simulated camera: cannot read PNG");
    expectError(run({"info"}, "sim:scene=" + (dir_ / "missing.png").string()), 1,
                "No such file or directory");
}

}  // namespace
}  // namespace bayercam::app::testing
