// bayercam run as a process: help, version, exit codes and the messages for a wrong command
// line. Usage errors exit with 2, before any file is read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/tool/conversion_settings.h"
#include "tests/app/tool_process.h"

namespace bayercam::app::testing {
namespace {

// A convert command line whose only fault is the one a test adds; the input does not exist,
// which would be a failure (1), never a usage error (2).
std::vector<std::string> convertWith(std::vector<std::string> extra) {
    std::vector<std::string> args{
        "convert", "/nonexistent/in.raw", "-o", "/nonexistent/o.png", "--size", "16x8"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

void expectUsageError(const ToolRun& run, const std::string& fragment) {
    expectError(run, 2, fragment);
    EXPECT_EQ(run.out, "");
}

// ---------------------------------------------------------------- help and version

TEST(BayercamHelp, ConvertHelpListsOptionsAndEverySettingWithItsRange) {
    const ToolRun run = runBayercam({"convert", "--help"});
    EXPECT_EQ(run.exitCode, 0);
    for (const char* option : {"--output", "--size", "--phase", "--set", "--format", "--json"}) {
        EXPECT_NE(run.out.find(option), std::string::npos) << "missing " << option;
    }
    for (const SettingInfo& info : conversionSettingTable()) {
        const std::string range =
            std::to_string(info.minimum) + " to " + std::to_string(info.maximum);
        const std::size_t at = run.out.find(std::string(info.name) + " ");
        ASSERT_NE(at, std::string::npos) << "missing setting " << info.name;
        EXPECT_NE(run.out.find(range, at), std::string::npos) << info.name << ": " << range;
    }
}

TEST(BayercamHelp, ToolHelpAndVersionExitZero) {
    EXPECT_NE(runBayercam({"--help"}).out.find("convert"), std::string::npos);
    const ToolRun run = runBayercam({"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind("bayercam ", 0), 0u) << run.out;
}

// ---------------------------------------------------------------- usage errors

struct UsageCase {
    std::vector<std::string> args;
    const char* fragment;  // of the message on stderr
};

std::vector<std::string> convertSet(const char* assignment) {
    return convertWith({"--set", assignment});
}

TEST(BayercamUsage, EveryMistakeExitsTwoAndSaysWhatIsWrong) {
    const UsageCase cases[] = {
        {{},
         "no command given; commands: list, capture, props, get, set, roi, info, settings or "
         "convert"},
        {{"convrt"}, "unknown command 'convrt'; did you mean convert?"},
        {convertWith({"--bogus"}), "bayercam convert --help"},
        {{"convert", "in.raw", "-o", "out.png"}, "--size"},
        {{"convert", "-o", "out.png", "--size", "8x8"}, "IN"},
        {convertWith({"--phase", "4"}), "--phase expects 0 (GRBG)"},
        {{"convert", "/nonexistent", "-o", "o.jpg", "--size", "8x8"},
         "cannot tell the output format from 'o.jpg'"},
        {convertWith({"--format", "tiff"}), "--format expects png or bgra"},
        {convertSet("Brigthness=300"), "unknown setting 'Brigthness'; did you mean Brightness?"},
        {convertSet("gain=1"), "did you mean RedGain, BlueGain or GreenGain?"},
        {convertSet("Zoom=2"), "unknown setting 'Zoom'; convert takes WhiteBalance,"},
        {convertSet("exposure=100"),
         "Exposure is a camera setting and does not change the conversion"},
        {convertSet("RedGain=513"),
         "RedGain=513 is out of range: RedGain takes 1 to 512 (default 128)"},
        {convertSet("Hue=0x168"),
         "Hue=0x168 (360) is out of range: Hue takes 0 to 359 (default 0)"},
        {convertSet("Brightness"), "--set expects NAME=VALUE, got 'Brightness'"},
        {convertSet("Hue=ten"), "Hue needs a whole number (decimal or 0x-hex), got 'ten'"},
    };
    for (const UsageCase& c : cases) {
        SCOPED_TRACE(c.fragment);
        expectUsageError(runBayercam(c.args), c.fragment);
    }
    for (const char* size : {"1360", "1360x", "7x8", "8x7", "16385x8", "-8x8", "1360x1024x3"}) {
        SCOPED_TRACE(size);
        expectUsageError(runBayercam({"convert", "/nonexistent", "-o", "o.png", "--size", size}),
                         "--size expects WIDTHxHEIGHT");
    }
}

// Accepted arguments get as far as reading the (missing) input: a failure, not usage.
TEST(BayercamUsage, AcceptedPhasesAndRangeEndsReachTheInput) {
    for (const std::vector<std::string>& extra :
         std::vector<std::vector<std::string>>{{"--phase", "rggb"},
                                               {"--set", "RedGain=1"},
                                               {"--set", "RedGain=512"},
                                               {"--set", "contrast=0X14"}}) {
        SCOPED_TRACE(extra.back());
        const ToolRun run = runBayercam(convertWith(extra));
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_NE(run.err.find("cannot read '/nonexistent/in.raw'"), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace bayercam::app::testing
