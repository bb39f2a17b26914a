// Frames of the simulated camera: armed by RequestFrame then ReadsPosted, released when due (or
// on trigger in external trigger mode) and streamed into the reads posted on the frame pipe in
// 512-byte packets.
#include <cstring>

#include "sim/simulated_camera.h"

namespace bayercam::sim {

bool SimulatedCamera::armFrame() {
    if (frameState_ != FrameState::Requested) return false;
    if (takeFault(faults_.neverAnswer)) {
        frameState_ = FrameState::Idle;
        return false;
    }
    frameState_ = FrameState::Armed;
    ++counters_.requested;
    triggered_ = false;
    bool triggerMode = controls_[kTriggerSelector] != 0;
    frameDue_ =
        triggerMode ? host::UsbClock::time_point::max() : pacer_.schedule(host::UsbClock::now());
    return true;
}

void SimulatedCamera::startFrame() {
    frame_ = &renderer_.render(scene_, counters_.delivered, mosaicSettingsLocked());
    framePosition_ = 0;
    frameState_ = FrameState::Streaming;
}

host::UsbDataResult SimulatedCamera::readFrame(std::span<std::uint8_t> buffer) {
    if (frameHalted_) return {host::UsbHandshake::Stall};
    if (takeFault(faults_.stallFramePipe)) {
        frameHalted_ = true;
        return {host::UsbHandshake::Stall};
    }
    if (frameState_ == FrameState::Armed && host::UsbClock::now() >= frameDue_) startFrame();
    if (frameState_ != FrameState::Streaming) {
        host::UsbDataResult nak{host::UsbHandshake::Nak};
        if (frameState_ == FrameState::Armed) nak.retryAt = frameDue_;
        return nak;
    }
    return sendFrameData(buffer);
}

// Whole packets only: the last packet of a read may be short only where a fault ends it short.
host::UsbDataResult SimulatedCamera::sendFrameData(std::span<std::uint8_t> buffer) {
    std::size_t remaining = kFrameBytes - framePosition_;
    std::size_t room = buffer.size() - buffer.size() % kFramePacketBytes;
    std::size_t bytes = std::min(remaining, room);
    host::UsbDataResult result{host::UsbHandshake::Ack};
    std::size_t consumed = bytes;  // frame bytes this read uses up, sent or lost
    if (takeFault(faults_.failChunk)) {
        result.handshake = host::UsbHandshake::Error;
        bytes = 0;
    } else if (std::size_t shortBytes = takeFault(faults_.shortChunkBytes); shortBytes != 0) {
        bytes = std::min(shortBytes, bytes);
        result.shortPacket = true;
    } else if (bytes == 0) {
        return {host::UsbHandshake::Error};  // babble: a packet would overflow the read
    }
    std::memcpy(buffer.data(), frame_->data() + framePosition_, bytes);
    result.bytes = bytes;
    counters_.packets += (bytes + kFramePacketBytes - 1) / kFramePacketBytes;
    framePosition_ += consumed;
    if (framePosition_ >= kFrameBytes) {
        ++counters_.delivered;
        frameState_ = FrameState::Idle;
    }
    return result;
}

}  // namespace bayercam::sim
