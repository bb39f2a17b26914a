// Raw files given to `bayercam convert`, through the tool's own functions (no process): the
// --size, --phase and --set texts parsed as the command parses them, the input file read with
// its size check, and the frame converted with the driver's pipeline. A refused argument or file
// is a ToolError, which is the tool's answer; anything else that escapes, a crash, a sanitizer
// report or kernel objects left behind fail the input. A converted frame must be whole: width x
// height pixels, each with an alpha byte of 255.
//
// Each input writes its file into one scratch file, read back by the tool.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/tool/conversion_settings.h"
#include "app/tool/convert_arguments.h"
#include "app/tool/raw_conversion.h"
#include "app/tool/raw_file.h"
#include "app/tool/tool_error.h"
#include "tests/fuzz/fuzz_checks.h"
#include "tests/fuzz/fuzz_input.h"

namespace bayercam::fuzz {
namespace {

constexpr std::size_t kAssignmentsPerInput = 12;

std::string_view text(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

struct Run {
    Run();
    ~Run();

    std::filesystem::path file;
    KernelBaseline baseline;
};

Run::Run() {
    std::filesystem::path base = "/dev/shm";
    std::error_code error;
    if (!std::filesystem::is_directory(base, error)) base = std::filesystem::temp_directory_path();
    file = base / ("bayercam-fuzz-convert-" + std::to_string(getpid()) + ".raw");
}

Run::~Run() {
    std::error_code error;
    std::filesystem::remove(file, error);
}

void writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) fuzzFailure("cannot write the scratch raw file " + path.string());
}

void expectWholeFrame(const app::ConvertedFrame& frame, app::FrameSize size) {
    if (frame.bgra.size() != size.pixels() * 4) {
        fuzzFailure("a " + size.text() + " conversion gave " + std::to_string(frame.bgra.size()) +
                    " bytes");
    }
    for (std::size_t i = 3; i < frame.bgra.size(); i += 4) {
        if (frame.bgra[i] != 255) {
            fuzzFailure("pixel " + std::to_string(i / 4) + " of a " + size.text() +
                        " conversion has alpha " + std::to_string(frame.bgra[i]));
        }
    }
}

void convert(Run& run, FuzzInput& in) {
    const std::string_view sizeText = text(in.block());
    const std::string_view phaseText = text(in.block());
    std::vector<std::string_view> assignments;
    for (std::uint8_t n = in.u8() % (kAssignmentsPerInput + 1); n > 0; --n) {
        assignments.push_back(text(in.block()));
    }
    writeFile(run.file, in.rest());
    try {
        const app::FrameSize size = app::parseFrameSize(sizeText);
        const std::int32_t phase = app::parseBayerPhase(phaseText);
        app::ConversionSettings settings;
        for (std::string_view assignment : assignments) {
            app::applySettingAssignment(settings, assignment);
        }
        const std::vector<std::uint8_t> raw = app::readRawFrame(run.file, size);
        expectWholeFrame(app::convertRawFrame(raw, size, phase, settings), size);
    } catch (const app::ToolError&) {
        // Refused arguments and files of the wrong size are the tool's own answers.
    }
}

}  // namespace
}  // namespace bayercam::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bayercam::fuzz;
    static Run run;
    FuzzInput in(data, size);
    convert(run, in);
    run.baseline.expectClean("after a conversion");
    return 0;
}
