// The seam between the USB bus stand-in and a device model behind it (the simulated camera, or a
// real device through another backend). The bus deals in URBs and requests; a function deals only
// in descriptors, endpoint data and port state.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace bayercam::host {

using UsbClock = std::chrono::steady_clock;

// How an endpoint answered one attempt to move data.
enum class UsbHandshake {
    Ack,    // bytes moved
    Nak,    // nothing to move now: ask again at retryAt, or when the function signals a change
    Stall,  // the endpoint is halted until its halt is cleared
    Error,  // a transmission error: the transfer fails, the endpoint stays usable
};

struct UsbDataResult {
    UsbHandshake handshake = UsbHandshake::Nak;
    std::size_t bytes = 0;     // Ack: bytes moved by this attempt
    bool shortPacket = false;  // IN Ack: the last packet was short, so the transfer ends here
    UsbClock::time_point retryAt = UsbClock::time_point::max();  // Nak
};

struct UsbPortState {
    bool connected = true;
    bool enabled = true;
};

// Told by a function when something a pending request may be waiting for has changed: data became
// available, a halt was set, the port changed. Callable from any thread, with no lock held.
class UsbFunctionEvents {
  public:
    virtual void functionChanged() noexcept = 0;

  protected:
    ~UsbFunctionEvents() = default;
};

class UsbFunction {
  public:
    virtual ~UsbFunction() = default;

    // The bus to tell about changes; null when the bus lets go of the function.
    virtual void bind(UsbFunctionEvents* events) = 0;

    virtual std::vector<std::uint8_t> deviceDescriptor() = 0;
    // The whole configuration: configuration, interface and endpoint descriptors.
    virtual std::vector<std::uint8_t> configurationDescriptor() = 0;
    // 0 returns the function to the unconfigured state.
    virtual void setConfiguration(std::uint8_t configurationValue) = 0;

    // One attempt to move a transfer's remaining bytes to (OUT) or from (IN) an endpoint.
    virtual UsbDataResult dataOut(std::uint8_t endpoint, std::span<const std::uint8_t> data) = 0;
    virtual UsbDataResult dataIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer) = 0;
    virtual void clearHalt(std::uint8_t endpoint) = 0;

    virtual UsbPortState portState() = 0;
    virtual void resetPort() = 0;
};

}  // namespace bayercam::host
