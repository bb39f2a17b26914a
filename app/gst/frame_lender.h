// Frames handed to GStreamer without a copy: a buffer's memory is the frame's own pixel memory,
// as the driver wrote it. When the last buffer holding it is freed, on whatever thread, the
// memory comes back here, and the streaming thread gives it to the camera to fill again, which
// saves a fresh zeroed frame per frame. Buffers may outlive the element: each holds the lender.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "app/lib/camera.h"

namespace bayercam::app {

class FrameLender : public std::enable_shared_from_this<FrameLender> {
  public:
    // A buffer whose one memory is the frame's pixels, with a video meta for its rows.
    GstBuffer* lend(Frame&& frame);
    // Pixel memory that came back, if any.
    std::optional<std::vector<std::uint8_t>> takeReturned();
    // Frames lent and not back yet.
    std::size_t outstanding() const;
    // Drops the memory kept for reuse (the stream ended or changes format).
    void dropReturned();

  private:
    struct Loan;
    static void giveBack(gpointer loan);

    mutable std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> returned_;  // guarded by mutex_
    std::size_t outstanding_ = 0;                      // guarded by mutex_
};

}  // namespace bayercam::app
