// What convert tells the user when it is done: one line for a person, or JSON for a script.
#pragma once

#include <cstdint>
#include <string>

#include "app/tool/conversion_settings.h"
#include "app/tool/convert_arguments.h"

namespace bayercam::app {

struct ConversionRecord {
    std::string input;
    std::string output;
    OutputFormat format = OutputFormat::kPng;
    FrameSize size;
    std::int32_t bayerPhase = kSensorBayerPhase;
    ConversionSettings settings;
    // Gains the frame was converted with (measured ones under white balance).
    std::int32_t redGain = 0;
    std::int32_t greenGain = 0;
    std::int32_t blueGain = 0;
};

// "out.png: 1360x1024 RGB PNG from in.raw, Bayer phase 1 (BGGR), gains red 128 ..."
std::string describeConversion(const ConversionRecord& record);

// One JSON object: files, size, phase, every conversion setting by its name, applied gains.
std::string conversionJson(const ConversionRecord& record);

}  // namespace bayercam::app
