#include "tests/support/observed_camera.h"

#include <algorithm>

namespace bayercam::testing {

void ObservedCamera::refuseCommands(std::function<bool(std::span<const std::uint8_t>)> refuse) {
    std::lock_guard guard(lock_);
    refuse_ = std::move(refuse);
}

void ObservedCamera::replaceConfiguration(std::vector<std::uint8_t> descriptor) {
    std::lock_guard guard(lock_);
    configuration_ = std::move(descriptor);
}

void ObservedCamera::replaceDeviceDescriptor(std::vector<std::uint8_t> descriptor) {
    std::lock_guard guard(lock_);
    device_ = std::move(descriptor);
}

void ObservedCamera::script(std::uint8_t endpoint, ScriptedAnswer answer) {
    std::lock_guard guard(lock_);
    answers_[endpoint].push_back(std::move(answer));
}

std::vector<FrameAttempt> ObservedCamera::frameAttempts() const {
    std::lock_guard guard(lock_);
    return attempts_;
}

std::vector<std::uint8_t> ObservedCamera::deviceDescriptor() {
    {
        std::lock_guard guard(lock_);
        if (device_) return *device_;
    }
    return camera_.deviceDescriptor();
}

std::vector<std::uint8_t> ObservedCamera::configurationDescriptor() {
    {
        std::lock_guard guard(lock_);
        if (configuration_) return *configuration_;
    }
    return camera_.configurationDescriptor();
}

host::UsbDataResult ObservedCamera::dataOut(std::uint8_t endpoint,
                                            std::span<const std::uint8_t> data) {
    {
        std::lock_guard guard(lock_);
        if (refuse_ && endpoint == sim::kCommandEndpoint && refuse_(data)) {
            return {host::UsbHandshake::Stall};
        }
    }
    return camera_.dataOut(endpoint, data);
}

host::UsbDataResult ObservedCamera::dataIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer) {
    {
        std::unique_lock guard(lock_);
        auto it = answers_.find(endpoint);
        if (it != answers_.end() && !it->second.empty()) {
            const ScriptedAnswer answer = std::move(it->second.front());
            it->second.pop_front();
            guard.unlock();
            if (answer.handshake == host::UsbHandshake::Nak) {
                // Asked again at once: the next answer, or the camera, decides.
                return {host::UsbHandshake::Nak, 0, false, host::UsbClock::now()};
            }
            if (answer.handshake != host::UsbHandshake::Ack) return {answer.handshake};
            if (answer.bytes.size() > buffer.size()) return {host::UsbHandshake::Error};
            std::copy(answer.bytes.begin(), answer.bytes.end(), buffer.begin());
            return {host::UsbHandshake::Ack, answer.bytes.size(), answer.shortPacket};
        }
    }
    if (endpoint == sim::kFrameEndpoint) {
        std::lock_guard guard(lock_);
        if (attempts_.empty() || attempts_.back().at != buffer.data() ||
            attempts_.back().bytes != buffer.size()) {
            attempts_.push_back({buffer.data(), buffer.size()});
        }
    }
    return camera_.dataIn(endpoint, buffer);
}

}  // namespace bayercam::testing
