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

FrameJob picture(std::uint64_t index) {
    FrameJob job{index, std::vector<std::uint8_t>(kSize.pixels() * 4, 7), {}, {}, {}};
    job.image = ImageView::packed(job.pixels, kSize);
    return job;
}

// Writes frame n as fn.bgra into folder.
auto into(const std::filesystem::path& folder) {
    return [folder](const FrameJob& job) {
        writeImageFile(folder / ("f" + std::to_string(job.index) + ".bgra"), OutputFormat::kBgra,
                       job.image);
    };
}

TEST(FrameWriterThread, EveryFrameHandedOverIsWrittenByFinish) {
    const ScratchDir dir;
    FrameWriter writer(into(dir.path()), 2);
    for (int i = 0; i < 6; ++i) writer.write(picture(i));
    writer.finish();
    for (int i = 0; i < 6; ++i) {
        const std::filesystem::path file = dir / ("f" + std::to_string(i) + ".bgra");
        ASSERT_TRUE(std::filesystem::exists(file)) << file;
        EXPECT_EQ(std::filesystem::file_size(file), kSize.pixels() * 4) << file;
    }
}

TEST(FrameWriterThread, AFailedWriteReachesTheTaker) {
    const ScratchDir dir;
    FrameWriter writer(into(dir / "missing"), 1);
    bool reported = false;
    try {
        for (int i = 0; i < 4; ++i) writer.write(picture(i));
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
