#include "sim/packet_log.h"

#include <algorithm>

#include "sim/camera_protocol.h"

namespace bayercam::sim {

void PacketLog::record(std::uint8_t endpoint, std::span<const std::uint8_t> bytes) {
    LoggedPacket packet{host::UsbClock::now(), endpoint, {bytes.begin(), bytes.end()}};
    std::lock_guard guard(lock_);
    packets_.push_back(std::move(packet));
}

std::vector<LoggedPacket> PacketLog::snapshot() const {
    std::lock_guard guard(lock_);
    return packets_;
}

std::size_t PacketLog::countCommands(std::uint8_t code) const {
    std::lock_guard guard(lock_);
    return static_cast<std::size_t>(
        std::count_if(packets_.begin(), packets_.end(), [code](const LoggedPacket& p) {
            return p.endpoint == kCommandEndpoint && !p.bytes.empty() && p.bytes[0] == code;
        }));
}

void PacketLog::clear() {
    std::lock_guard guard(lock_);
    packets_.clear();
}

}  // namespace bayercam::sim
