// The client frames of a pin: queued by the client, the leading one locked by the minidriver
// through the leading-edge stream pointer, and handed back (ejected, or flushed at stop) to the
// client, who waits for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/ks.h"

namespace bayercam::host::ks {

// A frame as it comes back to the client: its stream header, the video frame information when
// the header had room for it, and the frame buffer.
struct StreamFrame {
    KSSTREAM_HEADER header{};
    bool hasFrameInfo = false;
    KS_FRAME_INFO frameInfo{};
    std::vector<uint8_t> data;
};

class FrameQueue {
  public:
    explicit FrameQueue(PKSPIN pin) noexcept : pin_(pin) {}
    ~FrameQueue();

    // A zero-filled frame of dataSize bytes; the header has Size 56, or 128 with frame info.
    NTSTATUS queue(ULONG dataSize, bool withFrameInfo) noexcept;
    // A buffer the client already holds (one handed back before), queued as it is: its old
    // bytes stay until the minidriver writes over them. Its size is the frame's extent.
    NTSTATUS queue(std::vector<uint8_t> buffer, bool withFrameInfo) noexcept;
    // The leading frame, locked; null when no frame is queued or the pointer is locked.
    PKSSTREAM_POINTER lockLeadingEdge() noexcept;
    // False when pointer is not the locked leading edge. Eject hands the frame back.
    bool unlock(PKSSTREAM_POINTER pointer, bool eject) noexcept;
    bool locked() noexcept;
    // Hands every queued frame back with DataUsed 0, a locked one included.
    void flush() noexcept;
    // The oldest frame handed back, waiting at most timeout: STATUS_SUCCESS or STATUS_TIMEOUT.
    NTSTATUS wait(std::chrono::milliseconds timeout, StreamFrame* frame) noexcept;

  private:
    struct ClientFrame {
        alignas(8) unsigned char header[sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO)];
        std::vector<uint8_t> data;
        KSSTREAM_HEADER* streamHeader() noexcept {
            return reinterpret_cast<KSSTREAM_HEADER*>(header);
        }
    };
    void handBackLocked(std::unique_ptr<ClientFrame> frame);  // caller holds mutex_

    PKSPIN pin_;
    std::mutex mutex_;
    std::condition_variable handedBack_;
    std::deque<std::unique_ptr<ClientFrame>> queued_;  // guarded by mutex_
    std::deque<StreamFrame> completed_;                // guarded by mutex_
    KSSTREAM_POINTER pointer_{};                       // the leading edge; guarded by mutex_
    bool locked_ = false;                              // guarded by mutex_
};

}  // namespace bayercam::host::ks
