// Writes captured frames on a thread of its own, so encoding a picture does not hold up the
// next frame. At most `capacity` frames wait; a full queue makes the taker wait in turn.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "app/tool/convert_arguments.h"

namespace bayercam::app {

class FrameWriter {
  public:
    FrameWriter(std::filesystem::path folder, OutputFormat format, std::size_t capacity);
    // Waits for the frames already handed over; errors are dropped (finish() reports them).
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // Hands a picture (rows packed as the format writes them) over; throws the ToolError of an
    // earlier write that failed.
    void write(std::string name, std::vector<std::uint8_t> pixels, FrameSize size);
    // Waits until every frame is written; throws the first write's error.
    void finish();

  private:
    struct Job {
        std::string name;
        std::vector<std::uint8_t> pixels;
        FrameSize size;
    };
    void run();
    void rethrowLocked();  // caller holds mutex_

    const std::filesystem::path folder_;
    const OutputFormat format_;
    const std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;        // guarded by mutex_
    bool busy_ = false;           // guarded by mutex_: a job is being written
    bool closing_ = false;        // guarded by mutex_
    std::exception_ptr failure_;  // guarded by mutex_: the first write that failed
    std::thread thread_;
};

}  // namespace bayercam::app
