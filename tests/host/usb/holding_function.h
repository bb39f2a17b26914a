// A USB function in front of another that can hold the bus thread inside one data attempt: the
// attempt is answered by the function behind, then kept from returning until the test releases it.
// A test acts while the bus thread is between its look at the queues and its decision to wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "host/usb/usb_function.h"

namespace bayercam::host::testing {

class HoldingFunction final : public UsbFunction {
  public:
    explicit HoldingFunction(UsbFunction& inner) : inner_(inner) {}

    // Holds the next IN attempt on the endpoint once the function behind has answered it.
    void holdNextIn(std::uint8_t endpoint) {
        std::lock_guard guard(mutex_);
        endpoint_ = endpoint;
        state_ = State::Armed;
    }
    // Waits until an attempt is held; false on time-out.
    bool waitHeld(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return state_ == State::Held; });
    }
    // Lets a held attempt return; no later attempt is held.
    void release() {
        {
            std::lock_guard guard(mutex_);
            state_ = State::Released;
        }
        changed_.notify_all();
    }

    void bind(UsbFunctionEvents* events) override { inner_.bind(events); }
    std::vector<std::uint8_t> deviceDescriptor() override { return inner_.deviceDescriptor(); }
    std::vector<std::uint8_t> configurationDescriptor() override {
        return inner_.configurationDescriptor();
    }
    void setConfiguration(std::uint8_t value) override { inner_.setConfiguration(value); }
    UsbDataResult dataOut(std::uint8_t endpoint, std::span<const std::uint8_t> data) override {
        return inner_.dataOut(endpoint, data);
    }
    UsbDataResult dataIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer) override {
        UsbDataResult result = inner_.dataIn(endpoint, buffer);
        std::unique_lock lock(mutex_);
        if (state_ == State::Armed && endpoint == endpoint_) {
            state_ = State::Held;
            changed_.notify_all();
            changed_.wait(lock, [this] { return state_ == State::Released; });
        }
        return result;
    }
    void clearHalt(std::uint8_t endpoint) override { inner_.clearHalt(endpoint); }
    UsbPortState portState() override { return inner_.portState(); }
    void resetPort() override { inner_.resetPort(); }

  private:
    enum class State { Idle, Armed, Held, Released };

    UsbFunction& inner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint8_t endpoint_ = 0;  // guarded by mutex_
    State state_ = State::Idle;  // guarded by mutex_
};

}  // namespace bayercam::host::testing
