// The simulated camera as the driver tests and fuzz targets see it: every call goes to the
// camera, and the test can watch the frame pipe's transfers, refuse chosen command packets,
// replace the descriptors and script the answers to reads of an IN endpoint.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "sim/simulated_camera.h"

namespace bayercam::testing {

// One attempt of the bus on a frame-pipe read: where in memory and how many bytes it asked for.
struct FrameAttempt {
    const std::uint8_t* at;
    std::size_t bytes;
};

struct ScriptedAnswer {
    host::UsbHandshake handshake = host::UsbHandshake::Ack;
    // Ack: the data sent. More than the read asked for is babble, which fails the transfer.
    std::vector<std::uint8_t> bytes;
    // Ack: the data ended in a short packet, which ends the transfer; otherwise the bus asks
    // again for the rest.
    bool shortPacket = true;
};

class ObservedCamera final : public host::UsbFunction {
  public:
    explicit ObservedCamera(host::UsbFunction& camera) : camera_(camera) {}

    // A packet on the command pipe for which this returns true is refused with a stall.
    void refuseCommands(std::function<bool(std::span<const std::uint8_t>)> refuse);
    // The descriptors the device answers with, instead of the camera's. The bus reads the
    // device descriptor when it is created.
    void replaceConfiguration(std::vector<std::uint8_t> descriptor);
    void replaceDeviceDescriptor(std::vector<std::uint8_t> descriptor);
    // Answers the next reads of the IN endpoint, in order, before the camera does.
    void script(std::uint8_t endpoint, ScriptedAnswer answer);
    // Distinct (address, length) pairs the bus asked the frame pipe for, in order.
    std::vector<FrameAttempt> frameAttempts() const;

    void bind(host::UsbFunctionEvents* events) override { camera_.bind(events); }
    std::vector<std::uint8_t> deviceDescriptor() override;
    std::vector<std::uint8_t> configurationDescriptor() override;
    void setConfiguration(std::uint8_t value) override { camera_.setConfiguration(value); }
    host::UsbDataResult dataOut(std::uint8_t endpoint, std::span<const std::uint8_t> data) override;
    host::UsbDataResult dataIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer) override;
    void clearHalt(std::uint8_t endpoint) override { camera_.clearHalt(endpoint); }
    host::UsbPortState portState() override { return camera_.portState(); }
    void resetPort() override { camera_.resetPort(); }

  private:
    host::UsbFunction& camera_;
    mutable std::mutex lock_;
    std::function<bool(std::span<const std::uint8_t>)> refuse_;   // guarded by lock_
    std::optional<std::vector<std::uint8_t>> configuration_;      // guarded by lock_
    std::optional<std::vector<std::uint8_t>> device_;             // guarded by lock_
    std::map<std::uint8_t, std::deque<ScriptedAnswer>> answers_;  // guarded by lock_
    std::vector<FrameAttempt> attempts_;                          // guarded by lock_
};

struct MalformedConfiguration {
    const char* what;
    std::vector<std::uint8_t> descriptor;
};

// The camera's configuration spoiled in ways a device's answer may lie: lengths that do not add
// up, and no interface at all. The driver must refuse every one, whatever bus brings it.
std::vector<MalformedConfiguration> MalformedConfigurations();

}  // namespace bayercam::testing
