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
    EXPECT_EQ(run.exitCode, 2) << "stderr: " << run.err;
    EXPECT_EQ(run.err.rfind("bayercam: ", 0), 0u) << "stderr: " << run.err;
    EXPECT_NE(run.err.find(fragment), std::string::npos)
        << "expected stderr to contain: " << fragment << "\ngot: " << run.err;
    EXPECT_EQ(run.out, "");
}

// ---------------------------------------------------------------- help and version

TEST(BayercamHelp, ToolHelpNamesConvertAndExitsZero) {
    const ToolRun run = runBayercam({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("convert"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
}

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

TEST(BayercamHelp, VersionPrintsToolNameAndExitsZero) {
    const ToolRun run = runBayercam({"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind("bayercam ", 0), 0u) << run.out;
}

// ---------------------------------------------------------------- commands

TEST(BayercamCommands, NoCommandIsAUsageError) {
    expectUsageError(runBayercam({}), "no command given; commands: list, capture, props, get, set, roi, info, settings or convert");
}

TEST(BayercamCommands, UnknownCommandIsAUsageErrorWithASuggestion) {
    expectUsageError(runBayercam({"convrt"}), "unknown command 'convrt'; did you mean convert?");
    expectUsageError(runBayercam({"frobnicate"}), "unknown command 'frobnicate'");
}

TEST(BayercamCommands, UnknownOptionPointsAtTheCommandsHelp) {
    expectUsageError(runBayercam(convertWith({"--bogus"})), "bayercam convert --help");
}

TEST(BayercamCommands, MissingRequiredOptionsAreNamed) {
    expectUsageError(runBayercam({"convert", "in.raw", "-o", "out.png"}), "--size");
    expectUsageError(runBayercam({"convert", "in.raw", "--size", "8x8"}), "--output");
    expectUsageError(runBayercam({"convert", "-o", "out.png", "--size", "8x8"}), "IN");
}

// ---------------------------------------------------------------- convert arguments

TEST(ConvertArguments, MalformedSizesAreRefusedWithTheFormExpected) {
    for (const char* size : {"1360", "x1024", "1360x", "0x0", "7x8", "8x7", "16385x8", "-8x8",
                             "0x10x8", "abcxdef", "1360x1024x3", "1360 x 1024"}) {
        SCOPED_TRACE(size);
        expectUsageError(runBayercam({"convert", "/nonexistent", "-o", "o.png", "--size", size}),
                         "--size expects WIDTHxHEIGHT");
    }
}

TEST(ConvertArguments, PhaseTakesZeroToThreeOrThePatternName) {
    expectUsageError(runBayercam(convertWith({"--phase", "4"})), "--phase expects 0 (GRBG)");
    expectUsageError(runBayercam(convertWith({"--phase", "RGBG"})), "got 'RGBG'");
    // Accepted phases get as far as reading the (missing) input.
    EXPECT_EQ(runBayercam(convertWith({"--phase", "rggb"})).exitCode, 1);
    EXPECT_EQ(runBayercam(convertWith({"--phase", "0x3"})).exitCode, 1);
}

TEST(ConvertArguments, OutputFormatComesFromTheNameOrFormat) {
    expectUsageError(runBayercam({"convert", "/nonexistent", "-o", "o.jpg", "--size", "8x8"}),
                     "cannot tell the output format from 'o.jpg'");
    expectUsageError(runBayercam(convertWith({"--format", "tiff"})),
                     "--format expects png or bgra");
}

// ---------------------------------------------------------------- convert settings

TEST(ConvertSettings, UnknownNameListsCloseMatches) {
    expectUsageError(runBayercam(convertWith({"--set", "Brigthness=300"})),
                     "unknown setting 'Brigthness'; did you mean Brightness?");
    expectUsageError(runBayercam(convertWith({"--set", "gain=1"})),
                     "did you mean RedGain, BlueGain or GreenGain?");
    expectUsageError(runBayercam(convertWith({"--set", "Zoom=2"})),
                     "unknown setting 'Zoom'; convert takes WhiteBalance,");
}

TEST(ConvertSettings, CameraSettingsAreNamedAsSuch) {
    expectUsageError(runBayercam(convertWith({"--set", "exposure=100"})),
                     "Exposure is a camera setting and does not change the conversion");
}

TEST(ConvertSettings, OutOfRangeValueStatesTheRange) {
    expectUsageError(runBayercam(convertWith({"--set", "RedGain=513"})),
                     "RedGain=513 is out of range: RedGain takes 1 to 512 (default 128)");
    expectUsageError(runBayercam(convertWith({"--set", "bluegain=0"})),
                     "BlueGain=0 is out of range: BlueGain takes 1 to 512");
    expectUsageError(runBayercam(convertWith({"--set", "Hue=0x168"})),
                     "Hue=0x168 (360) is out of range: Hue takes 0 to 359 (default 0)");
    expectUsageError(runBayercam(convertWith({"--set", "Brightness=-1"})),
                     "Brightness=-1 is out of range: Brightness takes 0 to 510 (default 255)");
    expectUsageError(runBayercam(convertWith({"--set", "ColorEnable=2"})), "takes 0 to 1");
}

TEST(ConvertSettings, RangeEndsAreAcceptedInDecimalAndHex) {
    for (const char* value : {"RedGain=1", "RedGain=512", "Hue=0x167", "contrast=0X14"}) {
        SCOPED_TRACE(value);
        // Accepted settings get as far as reading the (missing) input: a failure, not usage.
        const ToolRun run = runBayercam(convertWith({"--set", value}));
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_NE(run.err.find("cannot read '/nonexistent/in.raw'"), std::string::npos) << run.err;
    }
}

TEST(ConvertSettings, MalformedAssignmentsAreRefused) {
    expectUsageError(runBayercam(convertWith({"--set", "Brightness"})),
                     "--set expects NAME=VALUE, got 'Brightness'");
    expectUsageError(runBayercam(convertWith({"--set", "=3"})), "--set expects NAME=VALUE");
    expectUsageError(runBayercam(convertWith({"--set", "Hue=ten"})),
                     "Hue needs a whole number (decimal or 0x-hex), got 'ten'");
    expectUsageError(runBayercam(convertWith({"--set", "Hue="})), "got ''");
}

}  // namespace
}  // namespace bayercam::app::testing
