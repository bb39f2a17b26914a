// A pin instance: the KSPIN the minidriver sees, its object bag, its connection format, the
// state walk, its client frames, its processing thread and its reference clock.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "host/ks/frame_queue.h"
#include "host/ks/ks_node.h"
#include "host/ks/object_bag.h"
#include "host/ks/pin_processor.h"

namespace bayercam::host::ks {

class KsFilter;
class PinClock;

class KsPin final : public KsNode {
  public:
    // Checks the format against the descriptor's data ranges, calls SetDataFormat with no old
    // format, then Create. On failure nothing is kept.
    static NTSTATUS create(KsFilter& filter, ULONG id, const KSPIN_DESCRIPTOR_EX* descriptor,
                           const KSDATAFORMAT* format, std::unique_ptr<KsPin>* pin) noexcept;
    ~KsPin() override;

    // Walks to stop (a pin cannot refuse to close), then calls Close.
    void close() noexcept;
    // A new connection format; SetDataFormat gets the old one and may refuse the new one.
    NTSTATUS setFormat(const KSDATAFORMAT* format) noexcept;
    // Walks one state at a time towards target; a failing step ends the walk where it is.
    NTSTATUS setState(KSSTATE target) noexcept;
    KSSTATE state() noexcept;
    // Queues a client frame; its arrival asks for a pass unless the descriptor's flags say
    // KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING.
    NTSTATUS queueFrame(ULONG dataSize, bool withFrameInfo) noexcept;
    NTSTATUS queueFrame(std::vector<uint8_t> buffer, bool withFrameInfo) noexcept;

    PKSPIN ks() noexcept { return &ks_; }
    void* publicObject() noexcept override { return &ks_; }
    FrameQueue& frames() noexcept { return frames_; }
    PinProcessor& processor() noexcept { return *processor_; }
    PinClock& clock() noexcept { return *clock_; }

  private:
    KsPin(KsFilter& filter, ULONG id, const KSPIN_DESCRIPTOR_EX* descriptor) noexcept;
    NTSTATUS createInstance(const KSDATARANGE* range) noexcept;
    void adoptFormat(const KSDATAFORMAT* format);
    NTSTATUS walk(KSSTATE target, bool force) noexcept;
    NTSTATUS step(KSSTATE to) noexcept;
    NTSTATUS callSetDeviceState(KSSTATE to, KSSTATE from) noexcept;
    bool mayProcess() noexcept;
    void processPass() noexcept;

    ObjectBag bag_;
    KSPIN ks_{};
    std::unique_ptr<LONGLONG[]> format_;  // the connection format; KSPIN.ConnectionFormat
    FrameQueue frames_;
    PinClock* clock_;
    std::mutex control_;                // serialises format and state changes and close
    std::atomic<bool> created_{false};  // between Create and Close
    std::unique_ptr<PinProcessor> processor_;
};

}  // namespace bayercam::host::ks
