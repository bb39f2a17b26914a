// The simulated camera as the driver tests see it: every call goes to the camera, and the test
// can watch the frame pipe's transfers, refuse chosen command packets and replace the
// configuration descriptor.
#pragma once

#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "sim/simulated_camera.h"

namespace bayercam::testing {

// One attempt of the bus on a frame-pipe read: where in memory and how many bytes it asked for.
struct FrameAttempt {
    const std::uint8_t* at;
    std::size_t bytes;
};

class ObservedCamera final : public host::UsbFunction {
  public:
    explicit ObservedCamera(sim::SimulatedCamera& camera) : camera_(camera) {}

    // A packet on the command pipe for which this returns true is refused with a stall.
    void refuseCommands(std::function<bool(std::span<const std::uint8_t>)> refuse);
    // The configuration descriptor the device answers with, instead of the camera's.
    void replaceConfiguration(std::vector<std::uint8_t> descriptor);
    // While set, every attempt on the frame pipe fails at once with a transmission error.
    void failFrameReads(bool fail);
    // Distinct (address, length) pairs the bus asked the frame pipe for, in order.
    std::vector<FrameAttempt> frameAttempts() const;

    void bind(host::UsbFunctionEvents* events) override { camera_.bind(events); }
    std::vector<std::uint8_t> deviceDescriptor() override { return camera_.deviceDescriptor(); }
    std::vector<std::uint8_t> configurationDescriptor() override;
    void setConfiguration(std::uint8_t value) override { camera_.setConfiguration(value); }
    host::UsbDataResult dataOut(std::uint8_t endpoint, std::span<const std::uint8_t> data) override;
    host::UsbDataResult dataIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer) override;
    void clearHalt(std::uint8_t endpoint) override { camera_.clearHalt(endpoint); }
    host::UsbPortState portState() override { return camera_.portState(); }
    void resetPort() override { camera_.resetPort(); }

  private:
    sim::SimulatedCamera& camera_;
    mutable std::mutex lock_;
    std::function<bool(std::span<const std::uint8_t>)> refuse_;  // guarded by lock_
    std::vector<std::uint8_t> configuration_;                    // guarded by lock_
    std::vector<FrameAttempt> attempts_;                         // guarded by lock_
    bool failFrameReads_ = false;                                // guarded by lock_
};

}  // namespace bayercam::testing
