// Where capture puts its frames, as -o names it: a folder (frame-0001.png, ...), one file
// (-o shot.png takes a single frame), or a stream ("-", a FIFO, a device: the frames one after
// another, packed, top row first).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/tool/convert_arguments.h"
#include "app/tool/frame_writer.h"
#include "app/tool/output_file.h"

namespace bayercam::app {

class CaptureOutput {
  public:
    enum class Kind { kFolder, kFile, kStream };

    // Sorts out the kind and the format (--format, else the file's extension, else png for
    // files and bgra for streams). Touches nothing; throws a usage ToolError.
    CaptureOutput(const std::string& name, const std::optional<std::string>& format);

    Kind kind() const { return kind_; }
    OutputFormat format() const { return format_; }
    const std::string& name() const { return name_; }
    // True when the frames go to this process's standard output.
    bool carriesStandardOutput() const;

    // Creates the folder, or opens the stream; frames is the run's count (0: until stopped),
    // which sets how wide the numbers in the file names are. Throws a failure ToolError.
    void open(std::uint64_t frames);
    // Where frame `index` (from 1) goes: its file's name, or the stream's.
    std::string frameName(std::uint64_t index) const;
    // Writes one frame; runs on the writer's thread.
    void write(const FrameJob& job, const std::string& name);
    // Flushes a stream.
    void finish();

  private:
    std::string name_;
    Kind kind_;
    OutputFormat format_;
    int digits_ = 4;
    std::unique_ptr<OutputFile> stream_;
};

}  // namespace bayercam::app
