// The pictures bayercam convert writes: byte for byte the driver's conversion of the same raw
// data with the same settings, upright RGB in PNG, and cases small enough to check by hand.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "host/conversion/raw_frame_conversion.h"
#include "tests/app/png_reader.h"
#include "tests/app/scratch_dir.h"
#include "tests/app/tool_process.h"
#include "tests/support/kernel_test.h"

namespace bayercam::app::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> randomRaw(int width, int height) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> sample(30, 220);  // mostly unsaturated output
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(width) * height);
    for (std::uint8_t& value : raw) value = static_cast<std::uint8_t>(sample(random));
    return raw;
}

class ConvertOutput : public host::testing::KernelTest {
  protected:
    fs::path writeRaw(const std::vector<std::uint8_t>& raw) {
        const fs::path path = dir_ / "in.raw";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(raw.data()), std::streamsize(raw.size()));
        return path;
    }

    // Converts raw with the tool and decodes the PNG it wrote.
    DecodedPng convertToPng(const std::vector<std::uint8_t>& raw, int width, int height,
                            std::vector<std::string> extra = {}) {
        std::vector<std::string> args{
            "convert", writeRaw(raw).string(),
            "-o",      (dir_ / "out.png").string(),
            "--size",  std::to_string(width) + "x" + std::to_string(height)};
        args.insert(args.end(), extra.begin(), extra.end());
        const ToolRun run = runBayercam(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        DecodedPng png = readPng(dir_ / "out.png");
        EXPECT_EQ(png.error, "");
        EXPECT_TRUE(png.rgb8) << "the PNG should be 8-bit RGB";
        EXPECT_EQ(png.width, std::uint32_t(width));
        EXPECT_EQ(png.height, std::uint32_t(height));
        return png;
    }

    ScratchDir dir_;
};

// ---------------------------------------------------------------- against the driver

struct SettingsCase {
    const char* name;
    std::vector<std::string> args;
    std::int32_t phase;
    host::ConversionSettings settings;
};

class ConvertMatchesDriver : public ConvertOutput,
                             public ::testing::WithParamInterface<SettingsCase> {};

// Odd sizes: partial 16-pixel blocks at the end of a row and an odd row count.
constexpr int kWidth = 37;
constexpr int kHeight = 21;

// A row whose arguments name a format writes .bgra and compares bytes; the others write PNG.
TEST_P(ConvertMatchesDriver, OutputIsTheDriversFrame) {
    const std::vector<std::uint8_t> raw = randomRaw(kWidth, kHeight);
    // The driver's conversion, hosted as the tool hosts it: the files must hold its picture.
    const host::ConvertedPicture expected =
        host::convertRawFrame(raw, kWidth, kHeight, GetParam().phase, GetParam().settings).value();
    if (GetParam().args.empty() || GetParam().args.front() != "--format") {
        const DecodedPng png = convertToPng(raw, kWidth, kHeight, GetParam().args);
        ASSERT_EQ(png.rgb.size(), std::size_t(kWidth) * kHeight * 3);
        EXPECT_TRUE(rgbToBgra(png.rgb) == expected.bgra) << "the PNG is not the driver's picture";
        return;
    }
    std::vector<std::string> args{
        "convert", writeRaw(raw).string(), "-o", (dir_ / "out.raw").string(), "--size", "37x21"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const ToolRun run = runBayercam(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string written = contents(dir_ / "out.raw");
    EXPECT_EQ(std::vector<std::uint8_t>(written.begin(), written.end()), expected.bgra);
}

const SettingsCase kSettingsCases[] = {
    {"Defaults", {}, 1, {}},
    {"BgraDefaults", {"--format", "bgra"}, 1, {}},
    {"PhaseGRBG", {"--phase", "0"}, 0, {}},
    {"BgraPhaseRGGBByName", {"--format", "bgra", "--phase", "rggb"}, 2, {}},
    {"Adjustments",
     {"--set", "Brightness=300", "--set", "contrast=13", "--set", "SATURATION=6", "--set",
      "Hue=40"},
     1,
     {.brightness = 300, .contrast = 13, .saturation = 6, .hue = 40}},
    {"GainsWithoutCorrection",
     {"--set", "RedGain=200", "--set", "GreenGain=100", "--set", "BlueGain=0x40", "--set",
      "ColorCorrection=0"},
     1,
     {.redGain = 200, .greenGain = 100, .blueGain = 64, .colorCorrection = 0}},
    {"Grey", {"--set", "ColorEnable=0", "--phase", "3"}, 3, {.colorEnable = 0}},
    {"WhiteBalance",
     {"--set", "WhiteBalance=1", "--set", "RedGain=300"},
     1,
     {.whiteBalance = 1, .redGain = 300}},
};

INSTANTIATE_TEST_SUITE_P(Settings, ConvertMatchesDriver, ::testing::ValuesIn(kSettingsCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- checked by hand

// Every filter's weights sum to its divisor, and with colour correction off the matrix is
// 64 x identity: each channel is the sample value itself, plus the brightness offset.
TEST_F(ConvertOutput, UniformGreyStaysThatGreyInEveryPhase) {
    const std::vector<std::uint8_t> raw(16 * 16, 100);
    for (const char* phase : {"0", "1", "2", "3"}) {
        SCOPED_TRACE(std::string("phase ") + phase);
        const DecodedPng png =
            convertToPng(raw, 16, 16, {"--phase", phase, "--set", "ColorCorrection=0"});
        EXPECT_EQ(png.rgb, std::vector<std::uint8_t>(16 * 16 * 3, 100));
    }
    const DecodedPng brighter =  // 10 levels above neutral
        convertToPng(raw, 16, 16, {"--set", "ColorCorrection=0", "--set", "Brightness=265"});
    EXPECT_EQ(brighter.rgb, std::vector<std::uint8_t>(16 * 16 * 3, 110));
}

TEST_F(ConvertOutput, DefaultCorrectionKeepsGreyUpToItsFixedPointRounding) {
    // The correction columns in Q6 are (87, -14, -9), (-16, 90, -10), (-6, -20, 91); the
    // positive and negative sums are shifted separately: red 8700/64 - 2300/64 = 135 - 35,
    // green 9000/64 - 2600/64 = 140 - 40, blue 9100/64 - 2600/64 = 142 - 40.
    const std::vector<std::uint8_t> raw(16 * 16, 100);
    const DecodedPng png = convertToPng(raw, 16, 16);
    ASSERT_EQ(png.rgb.size(), 16u * 16u * 3u);
    for (std::size_t i = 0; i < png.rgb.size(); i += 3) {
        ASSERT_EQ(png.rgb[i], 100) << "red of pixel " << i / 3;
        ASSERT_EQ(png.rgb[i + 1], 100) << "green of pixel " << i / 3;
        ASSERT_EQ(png.rgb[i + 2], 102) << "blue of pixel " << i / 3;
    }
}

TEST_F(ConvertOutput, PngIsUprightWithRawRowZeroAtTheTop) {
    // Rows 0-7 bright, rows 8-15 dark: the first and last two rows see only their own half.
    std::vector<std::uint8_t> raw(16 * 16, 20);
    std::fill(raw.begin(), raw.begin() + 16 * 8, 200);
    const DecodedPng png = convertToPng(raw, 16, 16, {"--set", "ColorCorrection=0"});
    ASSERT_EQ(png.rgb.size(), 16u * 16u * 3u);
    EXPECT_EQ(png.rgb.front(), 200) << "top-left pixel";
    EXPECT_EQ(png.rgb.back(), 20) << "bottom-right pixel";
}

// ---------------------------------------------------------------- the report

TEST_F(ConvertOutput, JsonReportsTheSettingsAndTheMeasuredGains) {
    const std::vector<std::uint8_t> raw = randomRaw(kWidth, kHeight);
    const ToolRun run =
        runBayercam({"convert", writeRaw(raw).string(), "-o", (dir_ / "out.png").string(), "--size",
                     "37x21", "--set", "WhiteBalance=1", "--set", "hue=0x10", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json report = nlohmann::json::parse(run.out);
    const host::ConvertedPicture driver =
        host::convertRawFrame(raw, kWidth, kHeight, 1, {.whiteBalance = 1, .hue = 16}).value();
    EXPECT_EQ(report["output"], (dir_ / "out.png").string());
    EXPECT_EQ(report["width"], kWidth);
    EXPECT_EQ(report["bayerPattern"], "BGGR");
    EXPECT_EQ(report["settings"]["Hue"], 16);
    EXPECT_EQ(report["appliedGains"]["red"], driver.redGain);
    EXPECT_EQ(report["appliedGains"]["green"], 128);
    EXPECT_EQ(report["appliedGains"]["blue"], driver.blueGain);
}

TEST_F(ConvertOutput, TextReportNamesTheOutputAndGains) {
    const std::vector<std::uint8_t> raw(16 * 16, 100);
    const fs::path out = dir_ / "out.png";
    const ToolRun run = runBayercam({"convert", writeRaw(raw).string(), "-o", out.string(),
                                     "--size", "16x16", "--set", "RedGain=150"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind(out.string() + ": 16x16 RGB PNG from ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("gains red 150, green 128, blue 128"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace bayercam::app::testing
