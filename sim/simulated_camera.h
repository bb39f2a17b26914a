// The simulated camera: a USB function with three bulk pipes (commands OUT, replies IN, frames
// IN), a register file, camera memory, query replies, frames streamed into posted reads at a
// chosen pace, and faults on demand.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "host/usb/usb_function.h"
#include "sim/camera_protocol.h"
#include "sim/descriptors.h"
#include "sim/fault_knobs.h"
#include "sim/frame_pacer.h"
#include "sim/frame_renderer.h"
#include "sim/packet_log.h"
#include "sim/register_file.h"
#include "sim/scene.h"

namespace bayercam::sim {

struct SimulatedCameraOptions {
    DescriptorVariant descriptors = DescriptorVariant::Standard;
    FramePacing pacing = FramePacing::FixedRate;
    double framesPerSecond = 30.0;
    std::uint8_t clockMode = 1;          // answered to ClockQuery
    bool exact = false;                  // frames carry the scene's samples unchanged
    std::shared_ptr<const Scene> scene;  // colour bars when null
    // Every packet goes into packetLog() for tests; a camera that streams for hours without a
    // reader of the log leaves it off, or the log grows with every frame.
    bool logPackets = true;
};

struct FrameCounters {
    std::uint64_t requested = 0;  // ReadsPosted that armed a frame
    std::uint64_t delivered = 0;  // frames sent completely
    std::uint64_t missed = 0;     // frame slots that passed with no frame asked for
    std::uint64_t abandoned = 0;  // frames cut off by a new RequestFrame
    std::uint64_t packets = 0;    // 512-byte (or shorter) packets sent on the frame pipe
};

class SimulatedCamera final : public host::UsbFunction {
  public:
    explicit SimulatedCamera(SimulatedCameraOptions options = {});

    // Picture and pace; safe while streaming.
    void setScene(std::shared_ptr<const Scene> scene);
    void setExact(bool exact);
    void setPacing(FramePacing pacing, double framesPerSecond);
    void setClockMode(std::uint8_t mode);
    void setMemory(std::uint16_t address, std::uint8_t value);
    // Releases a frame in external trigger mode (counted missed when none is waiting).
    void trigger();

    // Port faults: connected but disabled until a port reset; gone for good.
    void disablePort();
    void unplug();

    FaultKnobs& faults() { return faults_; }
    const PacketLog& packetLog() const { return log_; }
    PacketLog& packetLog() { return log_; }
    RegisterFile::Entry registerEntry(unsigned index) const;
    std::uint8_t controlValue(std::uint8_t selector) const;
    bool externalTriggerMode() const;
    FrameCounters counters() const;
    std::uint8_t configurationValue() const;
    // The raw frame that frame number `n` would carry with the current scene and settings.
    std::vector<std::uint8_t> renderFrame(std::uint64_t n) const;

    // host::UsbFunction
    void bind(host::UsbFunctionEvents* events) override;
    std::vector<std::uint8_t> deviceDescriptor() override;
    std::vector<std::uint8_t> configurationDescriptor() override;
    void setConfiguration(std::uint8_t configurationValue) override;
    host::UsbDataResult dataOut(std::uint8_t endpoint, std::span<const std::uint8_t> data) override;
    host::UsbDataResult dataIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer) override;
    void clearHalt(std::uint8_t endpoint) override;
    host::UsbPortState portState() override;
    void resetPort() override;

  private:
    using Packet = std::array<std::uint8_t, kCommandPacketBytes>;
    enum class FrameState { Idle, Requested, Armed, Streaming };

    // Caller holds lock_; they return true when the bus should look again.
    bool handleCommand(std::span<const std::uint8_t> packet);
    void queueReplies(const Packet& first, std::uint8_t answer);
    bool armFrame();
    host::UsbDataResult readReply(std::span<std::uint8_t> buffer);
    host::UsbDataResult readFrame(std::span<std::uint8_t> buffer);
    host::UsbDataResult sendFrameData(std::span<std::uint8_t> buffer);
    void startFrame();
    MosaicSettings mosaicSettingsLocked() const;
    void notifyBus();

    const SimulatedCameraOptions options_;
    FaultKnobs faults_;
    PacketLog log_;

    mutable std::mutex lock_;
    host::UsbFunctionEvents* events_ = nullptr;  // guarded by lock_; called without it
    std::shared_ptr<const Scene> scene_;         // guarded by lock_
    bool exact_;                                 // guarded by lock_
    std::uint8_t clockMode_;                     // guarded by lock_
    std::uint8_t configuration_ = 0;             // guarded by lock_
    RegisterFile registers_;                     // guarded by lock_
    std::array<std::uint8_t, 256> controls_{};   // guarded by lock_
    std::vector<std::uint8_t> memory_;           // guarded by lock_
    std::deque<Packet> replies_;                 // guarded by lock_
    bool connected_ = true;                      // guarded by lock_
    bool enabled_ = true;                        // guarded by lock_
    bool frameHalted_ = false;                   // guarded by lock_
    FramePacer pacer_;                           // guarded by lock_
    FrameState frameState_ = FrameState::Idle;   // guarded by lock_
    bool triggered_ = false;                     // guarded by lock_
    host::UsbClock::time_point frameDue_{};      // guarded by lock_
    FrameRenderer renderer_;                     // guarded by lock_
    // Guarded by lock_: the frame being sent, held by renderer_ until the next frame starts.
    const std::vector<std::uint8_t>* frame_ = nullptr;
    std::size_t framePosition_ = 0;  // guarded by lock_
    FrameCounters counters_;         // guarded by lock_
};

}  // namespace bayercam::sim
