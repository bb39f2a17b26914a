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

std::vector<MalformedConfiguration> MalformedConfigurations() {
    using Descriptor = std::vector<std::uint8_t>;
    auto setTotalLength = [](Descriptor& d, std::size_t length) {
        d[2] = std::uint8_t(length & 0xFF);
        d[3] = std::uint8_t(length >> 8);
    };
    const std::pair<const char*, std::function<void(Descriptor&)>> spoils[] = {
        {"total length shorter than the header", [&](Descriptor& d) { setTotalLength(d, 5); }},
        {"total length beyond what the device sent",
         [&](Descriptor& d) { setTotalLength(d, d.size() + 16); }},
        {"a descriptor of length zero", [](Descriptor& d) { d[9 + 9] = 0; }},
        {"the last endpoint running 5 bytes past the end",
         [](Descriptor& d) { d[d.size() - 7] = 12; }},
        {"no interfaces", [](Descriptor& d) { d = {9, 2, 9, 0, 1, 1, 0, 0x80, 250}; }},
    };
    std::vector<MalformedConfiguration> spoiled;
    for (const auto& [what, spoil] : spoils) {
        Descriptor descriptor = sim::makeConfigurationDescriptor(sim::DescriptorVariant::Standard);
        spoil(descriptor);
        spoiled.push_back({what, std::move(descriptor)});
    }
    return spoiled;
}

}  // namespace bayercam::testing
