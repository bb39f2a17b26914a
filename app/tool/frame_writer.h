// Writes captured frames on a thread of its own, so encoding a picture does not hold up the
// next frame. At most `capacity` frames wait; a full queue makes the taker wait in turn.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/tool/image_writers.h"

namespace bayercam::app {

// One frame for the writer: the picture, and what its file and the metadata log carry.
struct FrameJob {
    std::uint64_t index = 0;  // 1 for the first frame of a run
    std::vector<std::uint8_t> pixels;
    ImageView image;  // into pixels
    ImageText text;   // PNG text chunks
    std::string metadataLine;
};

class FrameWriter {
  public:
    // sink writes one frame; it runs on the writer's thread and throws a ToolError on failure.
    FrameWriter(std::function<void(const FrameJob&)> sink, std::size_t capacity);
    // Waits for the frames already handed over; errors are dropped (finish() reports them).
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // Hands a frame over; throws the ToolError of an earlier write that failed.
    void write(FrameJob job);
    // Waits until every frame is written; throws the first write's error.
    void finish();
    // The pixel memory of the frames written since the last call, for the next frames to reuse.
    std::vector<std::vector<std::uint8_t>> takeSpentPixels();

  private:
    void run();
    void rethrowLocked();  // caller holds mutex_

    const std::function<void(const FrameJob&)> sink_;
    const std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<FrameJob> jobs_;   // guarded by mutex_
    bool busy_ = false;           // guarded by mutex_: a job is being written
    bool closing_ = false;        // guarded by mutex_
    std::exception_ptr failure_;  // guarded by mutex_: the first write that failed
    std::vector<std::vector<std::uint8_t>> spent_;  // guarded by mutex_
    std::thread thread_;
};

}  // namespace bayercam::app
