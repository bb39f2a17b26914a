#include "host/ks/pin_processor.h"

#include <pthread.h>

#include <utility>

namespace bayercam::host::ks {

PinProcessor::PinProcessor(std::function<bool()> mayProcess, std::function<void()> pass)
    : mayProcess_(std::move(mayProcess)), pass_(std::move(pass)), thread_([this] { run(); }) {
    pthread_setname_np(thread_.native_handle(), "ks-processing");
}

PinProcessor::~PinProcessor() { shutdown(); }

void PinProcessor::attempt() noexcept {
    std::lock_guard lock(mutex_);
    requested_ = true;
    wake_.notify_one();
}

void PinProcessor::stateChanged() noexcept {
    std::lock_guard lock(mutex_);
    ++stateChanges_;
    wake_.notify_one();
}

void PinProcessor::shutdown() noexcept {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        wake_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
}

void PinProcessor::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!requested_) {
            wake_.wait(lock);
            continue;
        }
        requested_ = false;
        unsigned seenStateChanges = stateChanges_;
        lock.unlock();
        bool ran = false;
        {
            std::lock_guard pass(passMutex_);
            if (mayProcess_()) {
                pass_();
                ran = true;
            }
        }
        lock.lock();
        // An attempt the pin's state held back stays pending until the state changes.
        if (!ran) {
            requested_ = true;
            wake_.wait(lock, [&] { return stopping_ || stateChanges_ != seenStateChanges; });
        }
    }
}

}  // namespace bayercam::host::ks
