// The processing thread of a pin: KsPinAttemptProcessing asks for a pass and returns at once;
// passes run one at a time on this thread; an attempt made during a pass causes one more pass
// after it, and an attempt made while the pin may not process waits until it may.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace bayercam::host::ks {

class PinProcessor {
  public:
    // mayProcess and pass are called on the processing thread with the pass lock held.
    PinProcessor(std::function<bool()> mayProcess, std::function<void()> pass);
    ~PinProcessor();
    PinProcessor(const PinProcessor&) = delete;
    PinProcessor& operator=(const PinProcessor&) = delete;

    void attempt() noexcept;
    // Wakes the thread after the pin's state changed, so a held attempt may run.
    void stateChanged() noexcept;
    // Waits for a running pass to end and keeps new passes out while the lock is held.
    std::unique_lock<std::mutex> holdPasses() noexcept { return std::unique_lock(passMutex_); }
    // Ends the thread; a pass in progress completes first.
    void shutdown() noexcept;

  private:
    void run();

    std::function<bool()> mayProcess_;
    std::function<void()> pass_;
    std::mutex passMutex_;  // held for the whole of a pass
    std::mutex mutex_;
    std::condition_variable wake_;
    bool requested_ = false;     // guarded by mutex_
    bool stopping_ = false;      // guarded by mutex_
    unsigned stateChanges_ = 0;  // guarded by mutex_
    std::thread thread_;
};

}  // namespace bayercam::host::ks
