// A USB function in front of another (the simulated camera): it answers descriptor requests with
// given bytes, and reads on chosen IN endpoints with given answers (data of any length, a NAK,
// a stall, an error) until they run out; everything else goes to the function behind it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "host/usb/usb_function.h"

namespace bayercam::fuzz {

struct ScriptedAnswer {
    host::UsbHandshake handshake = host::UsbHandshake::Ack;
    // Ack: the data sent. More than the read asked for is babble, which fails the transfer.
    std::vector<std::uint8_t> bytes;
    // Ack: the data ended in a short packet, which ends the transfer; otherwise the bus asks
    // again for the rest.
    bool shortPacket = true;
};

class ScriptedFunction final : public host::UsbFunction {
  public:
    explicit ScriptedFunction(host::UsbFunction& behind) : behind_(behind) {}

    // Set before the bus is created: the bus reads the device descriptor when it starts.
    void serveDeviceDescriptor(std::vector<std::uint8_t> bytes) { device_ = std::move(bytes); }
    void serveConfiguration(std::vector<std::uint8_t> bytes) { configuration_ = std::move(bytes); }
    // Answers the next reads of the IN endpoint, in order, before the function behind it does.
    void script(std::uint8_t endpoint, ScriptedAnswer answer);

    void bind(host::UsbFunctionEvents* events) override { behind_.bind(events); }
    std::vector<std::uint8_t> deviceDescriptor() override;
    std::vector<std::uint8_t> configurationDescriptor() override;
    void setConfiguration(std::uint8_t value) override { behind_.setConfiguration(value); }
    host::UsbDataResult dataOut(std::uint8_t endpoint,
                                std::span<const std::uint8_t> data) override {
        return behind_.dataOut(endpoint, data);
    }
    host::UsbDataResult dataIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer) override;
    void clearHalt(std::uint8_t endpoint) override { behind_.clearHalt(endpoint); }
    host::UsbPortState portState() override { return behind_.portState(); }
    void resetPort() override { behind_.resetPort(); }

  private:
    host::UsbFunction& behind_;
    std::optional<std::vector<std::uint8_t>> device_;
    std::optional<std::vector<std::uint8_t>> configuration_;
    std::mutex lock_;
    std::map<std::uint8_t, std::deque<ScriptedAnswer>> answers_;  // guarded by lock_
};

}  // namespace bayercam::fuzz
