// bayercam props, get and set as processes: values that persist from one run to the next, the
// checks a value passes before anything is written, and a settings store or camera that cannot
// take a change.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "app/lib/camera.h"
#include "tests/app/camera_tool.h"

namespace bayercam::app::testing {
namespace {

namespace fs = std::filesystem;

TEST_F(CameraTool, SettingsSetInOneRunAreReadInTheNext) {
    expectOutput(run({"set", "Exposure=100", "brightness=0x12C"}),
                 "Exposure = 100 (3 to 1070, default 3)\nBrightness = 300 (0 to 510, default 255)");
    expectOutput(run({"get", "exposure", "Brightness"}),
                 "Exposure = 100 (3 to 1070, default 3)\nBrightness = 300");
    expectOutput(run({"get", "Exposure"}, "sim"), "Exposure = 100");
    const ToolRun json = run({"set", "--json", "Hue=7", "R[35]=0x2A"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const nlohmann::json values = nlohmann::json::parse(json.out);
    EXPECT_EQ(values["Hue"]["value"], 7);
    EXPECT_EQ(values["Hue"]["maximum"], 359);
    EXPECT_EQ(values["R[35]"]["value"], 42);
    expectOutput(run({"get", "M[0x10]"}), "M[0x0010] = 0x");
    EXPECT_EQ(
        nlohmann::json::parse(run({"get", "--json", "brightness"}).out)["Brightness"]["value"],
        300);
}

TEST_F(CameraTool, PropsListsAllSixtyNineWithWhatGetAndSetDo) {
    const ToolRun props = run({"props", "--json"});
    ASSERT_EQ(props.exitCode, 0) << props.err;
    const nlohmann::json list = nlohmann::json::parse(props.out);
    ASSERT_EQ(list.size(), 69u);
    EXPECT_EQ(list[60]["access"], "-") << "camera memory is read with get M[ADDR]";
    EXPECT_EQ(list[49]["access"], "r") << "the driver ignores writes to Clock";
    EXPECT_FALSE(list[44].contains("value")) << "the region is shown by bayercam roi";
    const ToolRun table = run({"props"});
    expectOutput(table, " 20  Brightness         rw         255  (0 to 510, default 255)");
    expectOutput(table, "  1  Timeout            rw        3000  (501 to 9999)\n");
}

// Nothing is written unless every assignment is one the driver takes as given.
TEST_F(CameraTool, SettingMistakesSayWhatIsWrongAndChangeNothing) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"set", "Brightnes=3"}, "did you mean Brightness"},
        {{"set", "Brightness"}, "expected NAME=VALUE"},
        {{"set", "R[2000]=1"}, "R[0 to 1023]"},
        {{"set", "M[3]=1"}, "camera memory is read only"},
        {{"get", "Exposure=3"}, "use 'bayercam set'"},
        {{"get", "CameraByte"}, "get M[ADDR]"},
        {{"set", "FlipH=5"}, "FlipH is a switch: 0 or 1, not 5"},
        {{"set", "Clock=0"}, "the driver ignores writes to it"},
        {{"set", "Exposure=100", "Hue=9999"}, "9999 is out of range for Hue"},
        {{"set", "Exposure=100", "R[3]=0x100000000"}, "register values are 0 to 0xFFFFFFFF"},
    };
    for (const auto& [args, fragment] : cases) expectError(run(args), 2, fragment);
    expectOutput(run({"get", "Exposure"}), "Exposure = 3 ");
}

// A store that would not keep a change is named, and never reported as written.
TEST_F(CameraTool, SettingsStoreThatCannotTakeAChangeIsRefused) {
    std::ofstream(dir_ / "notes.db") << "not a database\n";
    sqlite3* other = nullptr;
    sqlite3_open((dir_ / "other.db").c_str(), &other);
    sqlite3_exec(other, "CREATE TABLE songs(title TEXT)", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    const std::string otherBefore = contents(dir_ / "other.db");
    const std::tuple<fs::path, std::string, int, const char*> cases[] = {
        {dir_ / "notes.db", "Exposure=100", 1, "notes.db is damaged"},
        {dir_ / "other.db", "Exposure=100", 1, "is another application's database"},
        {dir_ / "notes.db" / "r.db", "Exposure=100", 1, "cannot use the settings store"},
        {"", "Exposure=100", 2, "--registry needs the name of a file"},
    };
    for (const auto& [store, assignment, exitCode, fragment] : cases) {
        expectError(runBayercam({"--registry", store.string(), "set", assignment}), exitCode,
                    fragment);
    }
    EXPECT_EQ(contents(dir_ / "notes.db"), "not a database\n");
    EXPECT_EQ(contents(dir_ / "other.db"), otherBefore);
}

// The capture that held the camera would have saved over the change at its end.
TEST_F(CameraTool, CameraHeldByAnotherProcessIsRefusedAndNothingChanges) {
    {
        CameraOptions options;
        options.framesPerSecond.reset();
        const Result<std::unique_ptr<Camera>> held = Camera::open(options, registry_);
        ASSERT_TRUE(held) << held.error().message;
        expectError(run({"set", "Hue=77"}), 1,
                    "is in use by process " + std::to_string(::getpid()));
    }
    expectOutput(run({"get", "Hue"}), "Hue = 0 ");
}

}  // namespace
}  // namespace bayercam::app::testing
