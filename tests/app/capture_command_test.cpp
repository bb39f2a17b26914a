// bayercam capture as a process: the files it writes (checked against the reference
// conversion), what it counts, and what bad input is told before streaming starts.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/app/camera_reference.h"
#include "tests/app/camera_tool.h"
#include "tests/app/png_reader.h"

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

}  // namespace
}  // namespace bayercam::app::testing
