// bayercam settings as a process: every stored setting exported, imported whole or not at all,
// and reset to what the driver loads when nothing is stored.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/app/camera_tool.h"

namespace bayercam::app::testing {
namespace {

TEST_F(CameraTool, SettingsGoToAFileAndComeBackAfterAReset) {
    ASSERT_EQ(run({"set", "Exposure=100", "FlipV=1"}).exitCode, 0);
    ASSERT_EQ(run({"roi", "16", "8", "640", "480"}).exitCode, 0);
    const ToolRun exported = run({"settings", "export"});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    const nlohmann::json settings = nlohmann::json::parse(exported.out);
    EXPECT_EQ(settings.size(), 24u);
    EXPECT_EQ(settings["RoiW"], 640);

    const std::string file = (dir_ / "day.json").string();
    expectOutput(run({"settings", "export", file}), "exported 24 settings");
    expectOutput(run({"settings", "reset"}), "Exposure = 3 ");
    expectOutput(run({"get", "Exposure", "GlobalGain", "FlipV"}),
                 "Exposure = 3 (3 to 1070, default 3)\nGlobalGain = 0 (0 to 1023, default 512)\n"
                 "FlipV = 0");
    expectOutput(run({"settings", "import", file}), "region: x 16, y 8, width 640, height 480");
    expectOutput(run({"get", "Exposure", "FlipV"}),
                 "Exposure = 100 (3 to 1070, default 3)\nFlipV = 1");
}

TEST_F(CameraTool, ImportChecksTheWholeFileBeforeChangingAnything) {
    const std::pair<const char*, const char*> cases[] = {
        {"not json", "is not a JSON object of settings"},
        {R"({"Exposur": 5})", "unknown setting 'Exposur'; did you mean Exposure?"},
        {R"({"Exposure": "bright"})", "Exposure must be a whole number"},
        {R"({"Exposure": 100, "RoiW": 7})", "gives an empty picture"},
    };
    for (const auto& [text, fragment] : cases) {
        std::ofstream(dir_ / "bad.json") << text;
        expectError(run({"settings", "import", (dir_ / "bad.json").string()}), 2, fragment);
    }
    expectOutput(run({"get", "Exposure"}), "Exposure = 3 ");
}

}  // namespace
}  // namespace bayercam::app::testing
