// The command packets the simulated camera accepts, and its replies to the two queries.
#include <cstring>

#include "sim/simulated_camera.h"

namespace bayercam::sim {

bool SimulatedCamera::handleCommand(std::span<const std::uint8_t> packet) {
    Packet p{};
    std::memcpy(p.data(), packet.data(), packet.size());
    switch (static_cast<CommandCode>(p[0])) {
        case CommandCode::RequestFrame:
            if (frameState_ == FrameState::Streaming) ++counters_.abandoned;
            frameState_ = FrameState::Requested;
            return false;
        case CommandCode::ReadsPosted:
            return armFrame();
        case CommandCode::WriteRegister:
            registers_.write(p[1], std::uint32_t(p[2]) | std::uint32_t(p[3]) << 8 |
                                       std::uint32_t(p[4]) << 16 | std::uint32_t(p[5]) << 24);
            return false;
        case CommandCode::SensorStart:
            pacer_.restart(host::UsbClock::now());
            return false;
        case CommandCode::Control:
            controls_[p[1]] = p[2];
            return false;
        case CommandCode::ClockQuery:
            queueReplies(p, clockMode_);
            return true;
        case CommandCode::ReadByte:
            queueReplies(p, memory_[(std::size_t(p[4]) << 8) | p[5]]);
            return true;
        default:  // Prepare, RawPacket and codes the camera ignores
            return false;
    }
}

// A query is answered by two packets: the query echoed, then the answer in byte 0.
void SimulatedCamera::queueReplies(const Packet& first, std::uint8_t answer) {
    if (takeFault(faults_.neverReply)) return;
    Packet second{};
    second[0] = answer;
    replies_.push_back(first);
    replies_.push_back(second);
}

host::UsbDataResult SimulatedCamera::readReply(std::span<std::uint8_t> buffer) {
    if (replies_.empty()) return {host::UsbHandshake::Nak};
    Packet reply = replies_.front();
    if (takeFault(faults_.failReply)) {
        replies_.pop_front();
        return {host::UsbHandshake::Error};
    }
    std::size_t bytes = kCommandPacketBytes;
    if (std::size_t shortened = takeFault(faults_.shortReplyBytes); shortened != 0) {
        bytes = std::min(shortened, kCommandPacketBytes - 1);
    }
    if (buffer.size() < bytes) return {host::UsbHandshake::Error};  // babble: packet overflows
    replies_.pop_front();
    std::memcpy(buffer.data(), reply.data(), bytes);
    if (options_.logPackets) {
        log_.record(kReplyEndpoint, std::span<const std::uint8_t>(reply.data(), bytes));
    }
    return {host::UsbHandshake::Ack, bytes, bytes < kCommandPacketBytes};
}

}  // namespace bayercam::sim
