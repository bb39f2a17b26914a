// bayercam convert run as a process: reading the raw file and writing the output, and what a
// person is told when either goes wrong. Failures exit with 1 and never leave a partial or
// temporary file behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/app/scratch_dir.h"
#include "tests/app/tool_process.h"

namespace bayercam::app::testing {
namespace {

namespace fs = std::filesystem;

class ConvertFiles : public ::testing::Test {
  protected:
    fs::path writeRaw(const std::string& name, std::size_t bytes) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << std::string(bytes, '\x40');
        return path;
    }

    ToolRun convert(const fs::path& in, const fs::path& out, const std::string& size,
                    std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"convert", in.string(), "-o", out.string(), "--size", size};
        args.insert(args.end(), extra.begin(), extra.end());
        return runBayercam(args);
    }

    // The names in a folder, so a test can tell that nothing stray was left there.
    static std::vector<std::string> entries(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    ScratchDir dir_;
};

// ---------------------------------------------------------------- the raw input

// Each names what is wrong; no output appears.
TEST_F(ConvertFiles, UnusableInputOrOutputIsRefused) {
    const fs::path in = writeRaw("in.raw", 128);
    const std::tuple<fs::path, fs::path, std::string> cases[] = {
        {writeRaw("short.raw", 100), dir_ / "out.png",
         "holds 100 bytes, but a 16x8 8-bit Bayer frame is 128 bytes"},
        {writeRaw("long.raw", 129), dir_ / "out.png", "holds 129 bytes"},
        {writeRaw("tall.raw", 16 * 10), dir_ / "out.png",
         "is 128 bytes (one byte per sample); --size 16x10 would fit it"},
        {dir_ / "absent.raw", dir_ / "out.png",
         "cannot read '" + (dir_ / "absent.raw").string() + "': No such file"},
        {dir_.path(), dir_ / "out.png", "Is a directory"},
        {in, dir_ / "no" / "out.png", "cannot create a file in '" + (dir_ / "no").string() + "'"},
        {in, in / "out.png", "Not a directory"},
    };
    for (const auto& [input, output, fragment] : cases) {
        expectError(convert(input, output, "16x8"), 1, fragment);
        EXPECT_FALSE(fs::exists(output)) << output;
    }
}

// The sanitizers reserve more address space than the limit allows.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST_F(ConvertFiles, HugeSizeForASmallFileIsRefusedBeforeTheFrameIsAllocated) {
    const fs::path in = writeRaw("small.raw", 100);
    // Far less than the 256 MiB a 16384x16384 frame takes; the tool inherits it.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_DATA, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 64u << 20;
    ASSERT_EQ(setrlimit(RLIMIT_DATA, &low), 0);
    const ToolRun run = convert(in, dir_ / "out.png", "16384x16384");
    ASSERT_EQ(setrlimit(RLIMIT_DATA, &saved), 0);
    expectError(run, 1, "holds 100 bytes, but a 16384x16384 8-bit Bayer frame is 268435456 bytes");
}
#endif

TEST_F(ConvertFiles, InputOrOutputFolderWithoutPermissionIsRefused) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads and writes regardless of permissions";
    const fs::path in = writeRaw("locked.raw", 128);
    fs::permissions(in, fs::perms::none);
    expectError(convert(in, dir_ / "out.png", "16x8"), 1, "Permission denied");
    fs::permissions(in, fs::perms::owner_read);
    fs::create_directory(dir_ / "ro");
    fs::permissions(dir_ / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    expectError(convert(in, dir_ / "ro" / "out.png", "16x8"), 1, "Permission denied");
}

TEST_F(ConvertFiles, FailedReplaceLeavesNoTemporaryFileBehind) {
    const fs::path in = writeRaw("in.raw", 128);
    fs::create_directory(dir_ / "taken.png");  // the final rename cannot replace a folder
    expectError(convert(in, dir_ / "taken.png", "16x8"), 1, "cannot write");
    EXPECT_EQ(entries(dir_.path()), (std::vector<std::string>{"in.raw", "taken.png"}));
    EXPECT_TRUE(fs::is_directory(dir_ / "taken.png"));
}

TEST_F(ConvertFiles, ExistingOutputIsReplacedWhole) {
    const fs::path in = writeRaw("in.raw", 128);
    std::ofstream(dir_ / "out.bgra") << std::string(10000, 'x');
    const ToolRun run = convert(in, dir_ / "out.bgra", "16x8");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(fs::file_size(dir_ / "out.bgra"), 16u * 8u * 4u);
    EXPECT_EQ(entries(dir_.path()), (std::vector<std::string>{"in.raw", "out.bgra"}));
}

// A link is followed to the file it names; a FIFO or "-" is written through as a stream.
TEST_F(ConvertFiles, OutputLinksAreFollowedAndStreamsWrittenThrough) {
    const fs::path in = writeRaw("in.raw", 128);
    fs::create_symlink("kept.bgra", dir_ / "link.bgra");
    fs::create_symlink("made.bgra", dir_ / "dangling.bgra");
    std::ofstream(dir_ / "kept.bgra") << "old";
    ASSERT_EQ(::mkfifo((dir_ / "fifo.bgra").c_str(), 0600), 0);
    const int reader = ::open((dir_ / "fifo.bgra").c_str(), O_RDONLY | O_NONBLOCK);
    for (const char* out : {"link.bgra", "dangling.bgra", "fifo.bgra"}) {
        EXPECT_EQ(convert(in, dir_ / out, "16x8").exitCode, 0) << out;
    }
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.bgra") && fs::is_symlink(dir_ / "dangling.bgra"));
    EXPECT_EQ(fs::file_size(dir_ / "kept.bgra"), 512u);
    EXPECT_EQ(fs::file_size(dir_ / "made.bgra"), 512u);
    EXPECT_TRUE(fs::is_fifo(dir_ / "fifo.bgra"));
    char streamed[1024];
    EXPECT_EQ(::read(reader, streamed, sizeof(streamed)), 512);
    ::close(reader);
    const ToolRun piped = convert(in, "-", "16x8", {"--format", "bgra"});
    EXPECT_EQ(piped.out.size(), 512u) << piped.err;
    EXPECT_NE(piped.err.find("16x8"), std::string::npos) << "the report goes to stderr";
}

TEST_F(ConvertFiles, TheInputIsNeverTheOutput) {
    const fs::path in = writeRaw("in.raw", 128);
    fs::create_symlink("in.raw", dir_ / "alias.bgra");
    for (const fs::path& out : {in, dir_ / "alias.bgra"}) {
        expectError(convert(in, out, "16x8", {"--format", "bgra"}), 2, "is the input");
        EXPECT_EQ(fs::file_size(in), 128u);
    }
}

TEST_F(ConvertFiles, NewOutputGetsTheUsualPermissions) {
    const fs::path in = writeRaw("in.raw", 128);
    const mode_t mask = ::umask(022);
    ASSERT_EQ(convert(in, dir_ / "out.png", "16x8").exitCode, 0);
    ::umask(mask);
    const fs::perms expected = fs::perms::owner_read | fs::perms::owner_write |
                               fs::perms::group_read | fs::perms::others_read;
    EXPECT_EQ(fs::status(dir_ / "out.png").permissions(), expected);
}

}  // namespace
}  // namespace bayercam::app::testing
