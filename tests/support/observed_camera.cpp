#include "tests/support/observed_camera.h"

namespace bayercam::testing {

void ObservedCamera::refuseCommands(std::function<bool(std::span<const std::uint8_t>)> refuse) {
    std::lock_guard guard(lock_);
    refuse_ = std::move(refuse);
}

void ObservedCamera::replaceConfiguration(std::vector<std::uint8_t> descriptor) {
    std::lock_guard guard(lock_);
    configuration_ = std::move(descriptor);
}

void ObservedCamera::failFrameReads(bool fail) {
    std::lock_guard guard(lock_);
    failFrameReads_ = fail;
}

std::vector<FrameAttempt> ObservedCamera::frameAttempts() const {
    std::lock_guard guard(lock_);
    return attempts_;
}

std::vector<std::uint8_t> ObservedCamera::configurationDescriptor() {
    {
        std::lock_guard guard(lock_);
        if (!configuration_.empty()) return configuration_;
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
    if (endpoint == sim::kFrameEndpoint) {
        std::lock_guard guard(lock_);
        if (attempts_.empty() || attempts_.back().at != buffer.data() ||
            attempts_.back().bytes != buffer.size()) {
            attempts_.push_back({buffer.data(), buffer.size()});
        }
        if (failFrameReads_) return {host::UsbHandshake::Error};
    }
    return camera_.dataIn(endpoint, buffer);
}

}  // namespace bayercam::testing
