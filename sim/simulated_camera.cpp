// The simulated camera's USB function face and its controls for tests.
#include "sim/simulated_camera.h"

#include "sim/bayer_mosaic.h"

namespace bayercam::sim {

SimulatedCamera::SimulatedCamera(SimulatedCameraOptions options)
    : options_(std::move(options)),
      scene_(options_.scene ? options_.scene : makeColorBars()),
      exact_(options_.exact),
      clockMode_(options_.clockMode),
      memory_(kCameraMemoryBytes, 0) {
    pacer_.configure(options_.pacing, options_.framesPerSecond);
}

void SimulatedCamera::setScene(std::shared_ptr<const Scene> scene) {
    std::lock_guard guard(lock_);
    scene_ = scene ? std::move(scene) : makeColorBars();
}

void SimulatedCamera::setExact(bool exact) {
    std::lock_guard guard(lock_);
    exact_ = exact;
}

void SimulatedCamera::setPacing(FramePacing pacing, double framesPerSecond) {
    {
        std::lock_guard guard(lock_);
        pacer_.configure(pacing, framesPerSecond);
    }
    notifyBus();
}

void SimulatedCamera::setClockMode(std::uint8_t mode) {
    std::lock_guard guard(lock_);
    clockMode_ = mode;
}

void SimulatedCamera::setMemory(std::uint16_t address, std::uint8_t value) {
    std::lock_guard guard(lock_);
    memory_[address] = value;
}

void SimulatedCamera::trigger() {
    {
        std::lock_guard guard(lock_);
        if (frameState_ == FrameState::Armed && !triggered_) {
            triggered_ = true;
            frameDue_ = host::UsbClock::now();
        } else {
            ++counters_.missed;
        }
    }
    notifyBus();
}

void SimulatedCamera::disablePort() {
    {
        std::lock_guard guard(lock_);
        enabled_ = false;
    }
    notifyBus();
}

void SimulatedCamera::unplug() {
    {
        std::lock_guard guard(lock_);
        connected_ = false;
        enabled_ = false;
    }
    notifyBus();
}

RegisterFile::Entry SimulatedCamera::registerEntry(unsigned index) const {
    std::lock_guard guard(lock_);
    return registers_.at(index);
}

std::uint8_t SimulatedCamera::controlValue(std::uint8_t selector) const {
    std::lock_guard guard(lock_);
    return controls_[selector];
}

bool SimulatedCamera::externalTriggerMode() const {
    std::lock_guard guard(lock_);
    return controls_[kTriggerSelector] != 0;
}

FrameCounters SimulatedCamera::counters() const {
    std::lock_guard guard(lock_);
    FrameCounters counters = counters_;
    counters.missed += pacer_.missed();
    return counters;
}

std::uint8_t SimulatedCamera::configurationValue() const {
    std::lock_guard guard(lock_);
    return configuration_;
}

std::vector<std::uint8_t> SimulatedCamera::renderFrame(std::uint64_t n) const {
    FrameRenderer renderer;
    std::lock_guard guard(lock_);
    return renderer.render(scene_, n, mosaicSettingsLocked());
}

// Exposure and gain come from the sensor registers once written, else from power-on values.
MosaicSettings SimulatedCamera::mosaicSettingsLocked() const {
    unsigned gain = registers_.at(6).written || registers_.at(7).written
                        ? registers_.value(6) | (registers_.value(7) << 6)
                        : 0;
    unsigned exposure = 3;
    if (registers_.at(154).written && registers_.value(154) == 1) {
        exposure = 1070;
    } else if (registers_.at(158).written || registers_.at(159).written) {
        exposure = registers_.value(158) | (registers_.value(159) << 6);
    }
    return MosaicSettings{pictureScale(exposure, gain), exact_, 0};
}

void SimulatedCamera::bind(host::UsbFunctionEvents* events) {
    std::lock_guard guard(lock_);
    events_ = events;
}

std::vector<std::uint8_t> SimulatedCamera::deviceDescriptor() { return makeDeviceDescriptor(); }

std::vector<std::uint8_t> SimulatedCamera::configurationDescriptor() {
    return makeConfigurationDescriptor(options_.descriptors);
}

void SimulatedCamera::setConfiguration(std::uint8_t configurationValue) {
    std::lock_guard guard(lock_);
    configuration_ = configurationValue;
    if (configurationValue == 0) {
        replies_.clear();
        frameState_ = FrameState::Idle;
    }
}

host::UsbDataResult SimulatedCamera::dataOut(std::uint8_t endpoint,
                                             std::span<const std::uint8_t> data) {
    if (endpoint != kCommandEndpoint) return {host::UsbHandshake::Stall};
    // Not even logged: the packet never reaches the camera.
    if (faults_.swallowCommands) return {host::UsbHandshake::Nak};
    bool changed = false;
    {
        std::lock_guard guard(lock_);
        for (std::size_t at = 0; at < data.size(); at += kCommandPacketBytes) {
            auto packet = data.subspan(at, std::min(kCommandPacketBytes, data.size() - at));
            if (options_.logPackets) log_.record(endpoint, packet);
            changed |= handleCommand(packet);
        }
    }
    if (changed) notifyBus();
    return {host::UsbHandshake::Ack, data.size()};
}

host::UsbDataResult SimulatedCamera::dataIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer) {
    std::lock_guard guard(lock_);
    if (endpoint == kReplyEndpoint) return readReply(buffer);
    if (endpoint == kFrameEndpoint) return readFrame(buffer);
    return {host::UsbHandshake::Stall};
}

void SimulatedCamera::clearHalt(std::uint8_t endpoint) {
    std::lock_guard guard(lock_);
    if (endpoint == kFrameEndpoint) frameHalted_ = false;
}

host::UsbPortState SimulatedCamera::portState() {
    std::lock_guard guard(lock_);
    return {connected_, enabled_};
}

void SimulatedCamera::resetPort() {
    std::lock_guard guard(lock_);
    if (!connected_) return;
    enabled_ = true;
    frameHalted_ = false;
}

void SimulatedCamera::notifyBus() {
    host::UsbFunctionEvents* events;
    {
        std::lock_guard guard(lock_);
        events = events_;
    }
    if (events != nullptr) events->functionChanged();
}

}  // namespace bayercam::sim
