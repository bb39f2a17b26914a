// The capture's writer thread: every frame handed over is on disk after finish(), and a write
// that fails is reported to the taker instead of being lost on the other thread.
#include "app/tool/frame_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/tool/tool_error.h"
#include "tests/app/scratch_dir.h"

namespace bayercam::app::testing {
namespace {

constexpr FrameSize kSize{8, 8};

std::vector<std::uint8_t> picture() { return std::vector<std::uint8_t>(kSize.pixels() * 4, 7); }

TEST(FrameWriterThread, EveryFrameHandedOverIsWrittenByFinish) {
    const ScratchDir dir;
    FrameWriter writer(dir.path(), OutputFormat::kBgra, 2);
    for (int i = 0; i < 6; ++i) writer.write("f" + std::to_string(i) + ".bgra", picture(), kSize);
    writer.finish();
    for (int i = 0; i < 6; ++i) {
        const std::filesystem::path file = dir / ("f" + std::to_string(i) + ".bgra");
        ASSERT_TRUE(std::filesystem::exists(file)) << file;
        EXPECT_EQ(std::filesystem::file_size(file), kSize.pixels() * 4) << file;
    }
}

TEST(FrameWriterThread, AFailedWriteReachesTheTaker) {
    const ScratchDir dir;
    FrameWriter writer(dir / "missing", OutputFormat::kPng, 1);
    bool reported = false;
    try {
        for (int i = 0; i < 4; ++i) writer.write("f.png", picture(), kSize);
        writer.finish();
    } catch (const ToolError& error) {
        reported = true;
        EXPECT_EQ(error.status(), ExitStatus::kFailure);
        EXPECT_NE(std::string(error.what()).find("missing"), std::string::npos) << error.what();
    }
    EXPECT_TRUE(reported) << "a write into a folder that does not exist must fail";
}

}  // namespace
}  // namespace bayercam::app::testing
