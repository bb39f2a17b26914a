// What is known of each captured frame: its picture number and presentation time from the
// driver, when it reached the tool, and the exposure, gain and region in force. Written as one
// JSON line per frame to the --metadata log, and into each PNG's text chunks.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "app/lib/camera.h"
#include "app/tool/image_writers.h"
#include "app/tool/output_file.h"

namespace bayercam::app {

struct FrameMetadata {
    std::string file;  // where the frame went
    std::int64_t pictureNumber = 0;
    std::int64_t presentationTime = 0;  // 100-ns units of the stream's clock
    std::chrono::system_clock::time_point wallClock;
    std::int32_t exposure = 0;
    std::int32_t globalGain = 0;
    Region region;

    std::string jsonLine() const;  // without the line end
    ImageText pngText() const;
};

// The --metadata log: a file (replaced whole when the capture ends, see OutputFile) or, for
// "-", standard error.
class MetadataLog {
  public:
    // Throws a failure ToolError when the file cannot be made.
    explicit MetadataLog(const std::string& name);
    // One line; throws a failure ToolError.
    void write(const std::string& line);
    // Puts the file in place.
    void finish();

  private:
    std::string name_;
    std::unique_ptr<OutputFile> file_;  // null for standard error
};

}  // namespace bayercam::app
