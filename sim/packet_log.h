// Every packet the camera received or sent, with the time it happened, for tests.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "host/usb/usb_function.h"

namespace bayercam::sim {

struct LoggedPacket {
    host::UsbClock::time_point time;
    std::uint8_t endpoint;  // bit 7 set: sent by the camera
    std::vector<std::uint8_t> bytes;
};

class PacketLog {
  public:
    void record(std::uint8_t endpoint, std::span<const std::uint8_t> bytes);
    std::vector<LoggedPacket> snapshot() const;
    // Packets on the command endpoint whose first byte is the code.
    std::size_t countCommands(std::uint8_t code) const;
    void clear();

  private:
    mutable std::mutex lock_;
    std::vector<LoggedPacket> packets_;  // guarded by lock_
};

}  // namespace bayercam::sim
