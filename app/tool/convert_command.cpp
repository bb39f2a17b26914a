#include "app/tool/convert_command.h"

#include "app/tool/conversion_report.h"
#include "app/tool/conversion_settings.h"
#include "app/tool/convert_arguments.h"
#include "app/tool/image_writers.h"
#include "app/tool/output_file.h"
#include "app/tool/raw_conversion.h"
#include "app/tool/raw_file.h"

namespace bayercam::app {

ConvertCommand::ConvertCommand(CLI::App& tool)
    : command_(tool.add_subcommand(
          "convert", "Convert a raw 8-bit Bayer file with the driver's own conversion")) {
    command_->add_option("IN", input_, "Raw file: WIDTH x HEIGHT samples, row-major, no header")
        ->required();
    command_->add_option("-o,--output", output_, "Output file: .png (RGB) or .bgra (raw BGRA); - for standard output")
        ->required();
    command_->add_option("--size", size_, "Frame size WIDTHxHEIGHT, e.g. 1360x1024")->required();
    command_
        ->add_option("--phase", phase_,
                     "Bayer phase of sample (0, 0): 0 GRBG, 1 BGGR (the sensor's), 2 RGGB, "
                     "3 GBRG")
        ->capture_default_str();
    command_->add_option("--format", format_, "png or bgra; default: from the output name");
    command_
        ->add_option("--set", assignments_,
                     "NAME=VALUE, a conversion setting (repeatable; see below)")
        ->allow_extra_args(false);
    command_->add_flag("--json", json_, "Report the conversion as JSON on standard output");
    command_->footer("Settings (names case-insensitive, values decimal or 0x-hex):\n" +
                     describeConversionSettings() +
                     "\nExample:\n  bayercam convert frame.raw -o frame.png --size 1360x1024 "
                     "--set Brightness=280 --set WhiteBalance=1");
}

void ConvertCommand::run(std::ostream& out, std::ostream& err) const {
    // Every argument is checked before any file is touched.
    const FrameSize size = parseFrameSize(size_);
    const std::int32_t phase = parseBayerPhase(phase_);
    const OutputFormat format = chooseOutputFormat(output_, format_);
    ConversionSettings settings;
    for (const std::string& assignment : assignments_) {
        applySettingAssignment(settings, assignment);
    }

    refuseInputAsOutput(input_, output_);

    const std::vector<std::uint8_t> raw = readRawFrame(input_, size);
    const ConvertedFrame frame = convertRawFrame(raw, size, phase, settings);
    writeImageFile(output_, format, frame.bgra, size);

    const ConversionRecord record{input_,   output_,       format,          size,          phase,
                                  settings, frame.redGain, frame.greenGain, frame.blueGain};
    // Standard output that carries the picture carries nothing else.
    std::ostream& report = writesToStandardOutput(resolveOutputPath(output_)) ? err : out;
    report << (json_ ? conversionJson(record) : describeConversion(record)) << "\n";
}

}  // namespace bayercam::app
