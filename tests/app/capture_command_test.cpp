// bayercam capture as a process: the files and streams it writes (checked against the
// reference conversion), what goes to stdout and stderr, what it counts, how it waits for a
// slow camera, how a signal ends it, and what bad input is told before anything is created.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/app/camera_reference.h"
#include "tests/app/camera_tool.h"
#include "tests/app/png_reader.h"
#include "tests/support/deadline.h"

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
            time == "time") {
            lines.push_back(frame);
        }
    }
    return lines;
}

// Finished frames in a folder: the temporaries being written are hidden files.
std::size_t picturesIn(const fs::path& folder) {
    std::size_t count = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        count += entry.path().filename().string().starts_with("frame-");
    }
    return count;
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

// A .bgra file holds the picture top row first, as a PNG does; -o FILE takes one frame.
TEST_F(CameraTool, BgraFileIsOneFrameTopRowFirst) {
    const ToolRun capture = run({"capture", "-o", (dir_ / "one.bgra").string(), "-v"});
    ASSERT_EQ(capture.exitCode, 0) << capture.err;
    const std::vector<FrameLine> lines = frameLines(capture.out);
    ASSERT_EQ(lines.size(), 1u) << capture.out;
    const std::string bytes = contents(dir_ / "one.bgra");
    ASSERT_EQ(bytes.size(), 1360u * 1024 * 4);
    EXPECT_GE(matchingMovingFrame({bytes.begin(), bytes.end()}, lines[0].picture), 0);
}

// Stdout that carries frames or JSON carries nothing else; metadata goes where it is asked.
TEST_F(CameraTool, EachOutputCarriesOnlyWhatItShould) {
    const ToolRun json =
        run({"capture", "-n", "2", "-o", (dir_ / "a").string(), "-v", "--json", "--metadata", "-"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(nlohmann::json::parse(json.out)["frames"], 2);
    EXPECT_EQ(frameLines(json.err).size(), 2u) << json.err;
    EXPECT_NE(json.err.find("{\"file\":\"frame-0002.png\",\"pictureNumber\":"), std::string::npos);

    const ToolRun stream = run({"capture", "-n", "2", "-o", "-", "--json"});
    ASSERT_EQ(stream.exitCode, 0) << stream.err;
    EXPECT_EQ(stream.out.size(), 2u * 1360 * 1024 * 4) << "packed bgra frames and nothing else";
    EXPECT_EQ(nlohmann::json::parse(stream.err)["format"], "bgra");
}

TEST_F(CameraTool, CaptureRefusesBadInputBeforeCreatingAnything) {
    std::ofstream(dir_ / "file") << "x";
    const fs::path fresh = dir_ / "fresh";
    const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
        {{"-o", (dir_ / "file" / "sub").string()}, 1, "cannot write into the output folder"},
        {{"--roi", "1,2,3"}, 2, "expected X,Y,WIDTH,HEIGHT"},
        {{"--roi", "1000,0,640,480"}, 2, "does not fit the sensor"},
        {{"--roi", "0,0,7,7"}, 2, "gives an empty picture"},
        {{"--set", "Gamma=3"}, 2, "unknown property 'Gamma'"},
        {{"-n", "abc"}, 2, "-n expects a number of frames"},
        {{"-o", (fresh / "shot.png").string(), "-n", "3"}, 2, "names one file"},
    };
    for (const auto& [args, exitCode, fragment] : cases) {
        std::vector<std::string> command{"capture"};
        command.insert(command.end(), args.begin(), args.end());
        if (args.front() != "-o") command.insert(command.end(), {"-o", fresh.string()});
        expectError(run(command), exitCode, fragment);
    }
    EXPECT_FALSE(fs::exists(fresh));
}

// The wait follows the camera's pace and the driver's Timeout; only gaps in picture numbers
// count as lost; a camera that sends nothing is explained. (Whether a Timeout a little shorter
// than the frame interval catches a frame depends on timing, so its message is tested alone.)
TEST_F(CameraTool, SlowCamerasAreWaitedForAndSilentOnesExplained) {
    const std::tuple<const char*, std::vector<std::string>, int, const char*> cases[] = {
        {"sim:scene=moving,exact,fps=0.25", {"Timeout=5000"}, 0, "lost 0:"},
        {"sim:scene=moving,exact", {"Timeout=600", "ExTrigger=1"}, 1, "external trigger"},
    };
    for (const auto& [camera, settings, exitCode, fragment] : cases) {
        std::vector<std::string> set{"set"};
        set.insert(set.end(), settings.begin(), settings.end());
        ASSERT_EQ(run(set, camera).exitCode, 0);
        const ToolRun capture = run({"capture", "-n", "2", "-o", dir_.path().string()}, camera);
        EXPECT_EQ(capture.exitCode, exitCode) << camera << "\n" << capture.err;
        EXPECT_NE((capture.out + capture.err).find(fragment), std::string::npos)
            << camera << " expected: " << fragment << "\ngot: " << capture.out << capture.err;
    }
}

// The frames taken are written whole, the summary printed and --set saved; a counted run
// exits as the signal says, a continuous one with 0.
TEST_F(CameraTool, SignalsEndARunCleanly) {
    const std::tuple<int, const char*, int> cases[] = {
        {SIGINT, "100000", 130}, {SIGTERM, "100000", 143}, {SIGINT, "0", 0}};
    int hue = 40;
    for (const auto& [signal, frames, exitCode] : cases) {
        const fs::path folder = dir_ / std::to_string(++hue);
        ToolProcess capture({"--registry", registry_.string(), "--camera", "sim:scene=moving",
                             "capture", "-n", frames, "-o", folder.string(), "--format", "bgra",
                             "--set", "Hue=" + std::to_string(hue)});
        bayercam::testing::Eventually([&] { return picturesIn(folder) >= 2; },
                                      std::chrono::seconds(30));
        capture.signal(signal);
        const ToolRun stopped = capture.wait();
        EXPECT_EQ(stopped.exitCode, exitCode) << stopped.err;
        EXPECT_NE(stopped.out.find("captured "), std::string::npos) << stopped.out;
        EXPECT_EQ(picturesIn(folder), std::size_t(std::distance(fs::directory_iterator(folder),
                                                                fs::directory_iterator())))
            << "a temporary file was left behind";
        expectOutput(run({"get", "Hue"}), "Hue = " + std::to_string(hue));
    }
}

}  // namespace
}  // namespace bayercam::app::testing
