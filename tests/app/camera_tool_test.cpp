// The camera subcommands run as processes, as a person runs them: the files capture writes
// (checked against the reference conversion), settings that persist from one run to the next,
// and what bad input is told.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/camera_reference.h"
#include "tests/app/png_reader.h"
#include "tests/app/scratch_dir.h"
#include "tests/app/tool_process.h"
#include "tests/support/kernel_test.h"

namespace bayercam::app::testing {
namespace {

namespace fs = std::filesystem;

struct FrameLine {
    std::string file;
    long long picture = -1;
};

// The -v lines: "frame-0001.png picture 12 time 0.4000 s interval 33.30 ms fps 30.0".
std::vector<FrameLine> frameLines(const std::string& out) {
    std::vector<FrameLine> lines;
    std::istringstream text(out);
    std::string line;
    while (std::getline(text, line)) {
        std::istringstream words(line);
        FrameLine frame;
        std::string picture, time;
        if (words >> frame.file >> picture >> frame.picture >> time && picture == "picture" &&
            time == "time" && frame.file.starts_with("frame-")) {
            lines.push_back(frame);
        }
    }
    return lines;
}

// The reference conversions run on the host kernel here, so its leak checks apply.
class CameraTool : public host::testing::KernelTest {
  protected:
    // bayercam with this test's own settings store and a camera that sends frames exactly.
    ToolRun run(std::vector<std::string> args,
                const std::string& camera = "sim:scene=moving,exact,fps=max") {
        args.insert(args.begin(), {"--registry", registry_.string(), "--camera", camera});
        return runBayercam(args);
    }

    static void expectError(const ToolRun& run, int exitCode, const std::string& fragment) {
        EXPECT_EQ(run.exitCode, exitCode) << "stderr: " << run.err;
        EXPECT_NE(run.err.find(fragment), std::string::npos)
            << "expected stderr to contain: " << fragment << "\ngot: " << run.err;
    }

    static void expectOutput(const ToolRun& run, const std::string& fragment) {
        EXPECT_EQ(run.exitCode, 0) << "stderr: " << run.err;
        EXPECT_NE(run.out.find(fragment), std::string::npos)
            << "expected stdout to contain: " << fragment << "\ngot: " << run.out;
    }

    ScratchDir dir_;
    fs::path registry_ = dir_ / "registry.db";
};

// ---------------------------------------------------------------- capture

TEST_F(CameraTool, CapturedPngsAreUprightReferenceConversionsOfTheFramesSent) {
    const ToolRun capture = run({"capture", "-n", "3", "-o", (dir_ / "pictures").string(), "-v"});
    ASSERT_EQ(capture.exitCode, 0) << capture.err;
    const std::vector<FrameLine> lines = frameLines(capture.out);
    for (const FrameLine& line : lines) {
        const DecodedPng png = readPng(dir_ / "pictures" / line.file);
        ASSERT_TRUE(png.error.empty()) << png.error;
        ASSERT_EQ(png.width, 1360u);
        ASSERT_EQ(png.height, 1024u);
        EXPECT_GE(matchingMovingFrame(rgbToBgra(png.rgb), line.picture), 0)
            << line.file << " is not the reference conversion of a frame near picture "
            << line.picture;
    }
    EXPECT_EQ(lines.size(), 3u) << "one verbose line per frame expected, got:\n" << capture.out;
    EXPECT_NE(capture.out.find("captured 3 frame(s) of 1360x1024"), std::string::npos)
        << capture.out;
    EXPECT_TRUE(capture.err.empty())
        << "no progress line when stderr is not a terminal: " << capture.err;
}

TEST_F(CameraTool, CaptureWithRegionAndBgraWritesRawRowsOfTheRegion) {
    const ToolRun capture = run({"capture", "-n", "2", "-o", dir_.path().string(), "--format",
                                 "bgra", "--roi", "16,8,640,480", "--set", "FlipV=1"});
    ASSERT_EQ(capture.exitCode, 0) << capture.err;
    EXPECT_EQ(fs::file_size(dir_ / "frame-0001.bgra"), 640u * 480 * 4);
    EXPECT_EQ(fs::file_size(dir_ / "frame-0002.bgra"), 640u * 480 * 4);
}

TEST_F(CameraTool, CaptureJsonSummaryCountsFramesAndLosses) {
    const ToolRun capture = run({"capture", "-n", "2", "-o", dir_.path().string(), "--json"});
    ASSERT_EQ(capture.exitCode, 0) << capture.err;
    const nlohmann::json summary = nlohmann::json::parse(capture.out);
    EXPECT_EQ(summary["frames"], 2);
    EXPECT_EQ(summary["width"], 1360);
    EXPECT_EQ(summary["format"], "png");
    EXPECT_EQ(summary["lost"]["total"].get<int>(), summary["lost"]["failed"].get<int>() +
                                                       summary["lost"]["timed_out"].get<int>() +
                                                       summary["lost"]["overwritten"].get<int>());
}

TEST_F(CameraTool, CaptureRefusesBadInputBeforeStreaming) {
    std::ofstream(dir_ / "file") << "x";
    expectError(run({"capture", "-o", (dir_ / "file" / "sub").string()}), 1,
                "cannot write into the output folder");
    expectError(run({"capture", "--roi", "1,2,3"}), 2, "expected X,Y,WIDTH,HEIGHT");
    expectError(run({"capture", "--roi", "0,0,640,480x"}), 2, "expected X,Y,WIDTH,HEIGHT");
    expectError(run({"capture", "-o", dir_.path().string(), "--roi", "1000,0,640,480"}), 2,
                "does not fit the sensor");
    expectError(run({"capture", "--format", "jpeg"}), 2, "--format");
    expectError(run({"capture", "--set", "Gamma=3"}), 2, "unknown property 'Gamma'");
    EXPECT_FALSE(fs::exists(dir_ / "frame-0001.png"));
}

// ---------------------------------------------------------------- settings

TEST_F(CameraTool, SettingsSetInOneRunAreReadInTheNext) {
    expectOutput(run({"set", "Exposure=100", "brightness=0x12C"}),
                 "Exposure = 100 (3 to 1070, default 3)\nBrightness = 300 (0 to 510, default 255)");
    expectOutput(run({"get", "exposure", "Brightness"}),
                 "Exposure = 100 (3 to 1070, default 3)\nBrightness = 300");
    expectOutput(run({"get", "Exposure"}, "sim"), "Exposure = 100");
}

TEST_F(CameraTool, RegionPersistsAndIsShown) {
    expectOutput(run({"roi", "16", "8", "640", "480"}), "region: x 16, y 8, width 640, height 480");
    expectOutput(run({"roi"}), "region: x 16, y 8, width 640, height 480\npicture: 640x480");
}

TEST_F(CameraTool, RegisterWriteIsReadBackAndMemoryIsRead) {
    expectOutput(run({"set", "R[35]=0x2A"}), "R[35] = 0x2A (42)");
    expectOutput(run({"get", "M[0x10]"}), "M[0x0010] = 0x");
}

TEST_F(CameraTool, PropsListsAllSixtyNineWithRanges) {
    const ToolRun props = run({"props", "--json"});
    ASSERT_EQ(props.exitCode, 0) << props.err;
    const nlohmann::json list = nlohmann::json::parse(props.out);
    ASSERT_EQ(list.size(), 69u);
    EXPECT_EQ(list[22]["name"], "BrightnessMax");
    EXPECT_EQ(list[20]["maximum"], 510);
    EXPECT_EQ(list[20]["access"], "rw");
    EXPECT_FALSE(list[44].contains("value")) << "the region is write only";
    expectOutput(run({"props"}), " 20  Brightness         rw         255  (0 to 510, default 255)");
}

TEST_F(CameraTool, SettingMistakesSayWhatIsWrong) {
    expectError(run({"set", "Brightnes=3"}), 2, "did you mean Brightness");
    expectError(run({"set", "Brightness=600"}), 2, "600 is out of range for Brightness: 0 to 510");
    expectError(run({"set", "Brightness"}), 2, "expected NAME=VALUE");
    expectError(run({"set", "Brightness=bright"}), 2, "expected a whole number");
    expectError(run({"set", "R[2000]=1"}), 2, "R[0 to 1023]");
    expectError(run({"set", "M[3]=1"}), 2, "camera memory is read only");
    expectError(run({"get", "Exposure=3"}), 2, "use 'bayercam set'");
    expectError(run({"roi", "1", "2"}), 2, "roi takes four numbers");
}

TEST_F(CameraTool, UnusableSettingsStoreOrCameraIsAClearFailure) {
    std::ofstream(dir_ / "file") << "x";
    const ToolRun store =
        runBayercam({"--registry", (dir_ / "file" / "r.db").string(), "get", "Exposure"});
    EXPECT_EQ(store.exitCode, 1);
    EXPECT_NE(store.err.find("cannot use the settings store"), std::string::npos) << store.err;
    expectError(run({"info"}, "sim:fps=fast"), 2, "fps must be");
    std::ofstream(dir_ / "notes.png") << "not a picture";
    expectError(run({"info"}, "sim:scene=" + (dir_ / "notes.png").string()), 1,
                "cannot set up the simulated camera: cannot read PNG");
    expectError(run({"info"}, "sim:scene=" + (dir_ / "missing.png").string()), 1,
                "No such file or directory");
}

// ---------------------------------------------------------------- info and help

TEST_F(CameraTool, InfoShowsPipesFormatAndStore) {
    const ToolRun info = run({"info"});
    expectOutput(info, "pipe 2: endpoint 0x83 bulk in");
    expectOutput(info, "Offered format: RGB32 1360x1024");
    expectOutput(info, "Settings store: " + registry_.string());
}

TEST_F(CameraTool, EverySubcommandHasHelp) {
    for (const char* command : {"capture", "props", "get", "set", "roi", "info", "convert"}) {
        const ToolRun help = runBayercam({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_NE(help.out.find("bayercam " + std::string(command)), std::string::npos)
            << command << " help:\n"
            << help.out;
    }
    expectError(runBayercam({"captur"}), 2, "did you mean capture");
}

}  // namespace
}  // namespace bayercam::app::testing
