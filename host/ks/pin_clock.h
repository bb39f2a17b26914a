// The reference clock a pin hands out: stream time in 100-ns units that advances only while
// the pin runs, stands still in pause and acquire, and returns to zero at stop. Reference
// counted; the pin holds one reference and every KsPinGetReferenceClockInterface adds one.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>

#include "platform/ks.h"

namespace bayercam::host::ks {

class PinClock final : public IKsReferenceClock {
  public:
    PinClock() noexcept;

    NTSTATUS QueryInterface(REFIID interfaceId, PVOID* object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    LONGLONG GetTime() override;
    LONGLONG GetPhysicalTime() override;
    LONGLONG GetCorrelatedTime(PLONGLONG systemTime) override;
    LONGLONG GetCorrelatedPhysicalTime(PLONGLONG systemTime) override;
    NTSTATUS GetResolution(PKSRESOLUTION resolution) override;
    NTSTATUS GetState(PKSSTATE state) override;

    // Follows the pin's state: runs in KSSTATE_RUN, holds otherwise, resets at KSSTATE_STOP.
    void setState(KSSTATE state) noexcept;
    ULONG references() const noexcept { return references_.load(); }

  private:
    using Clock = std::chrono::steady_clock;
    static LONGLONG hundredNs(Clock::duration d) noexcept;
    LONGLONG streamTimeLocked(Clock::time_point now) const noexcept;

    std::atomic<ULONG> references_{1};
    const Clock::time_point created_;
    mutable std::mutex mutex_;
    KSSTATE state_ = KSSTATE_STOP;  // guarded by mutex_
    LONGLONG heldTime_ = 0;         // stream time when the run last stopped; guarded by mutex_
    Clock::time_point runStart_{};  // guarded by mutex_
};

}  // namespace bayercam::host::ks
