#include "host/ks/pin_clock.h"

#include "host/kernel/verifier.h"

namespace bayercam::host::ks {

PinClock::PinClock() noexcept : created_(Clock::now()) {}

LONGLONG PinClock::hundredNs(Clock::duration d) noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count() / 100;
}

NTSTATUS PinClock::QueryInterface(REFIID, PVOID* object) {
    verifier::report("ks: IKsReferenceClock::QueryInterface is not implemented");
    if (object != nullptr) *object = nullptr;
    return STATUS_NOT_IMPLEMENTED;
}

ULONG PinClock::AddRef() { return ++references_; }

ULONG PinClock::Release() {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

LONGLONG PinClock::streamTimeLocked(Clock::time_point now) const noexcept {
    return state_ == KSSTATE_RUN ? heldTime_ + hundredNs(now - runStart_) : heldTime_;
}

LONGLONG PinClock::GetTime() {
    std::lock_guard lock(mutex_);
    return streamTimeLocked(Clock::now());
}

LONGLONG PinClock::GetPhysicalTime() { return hundredNs(Clock::now() - created_); }

LONGLONG PinClock::GetCorrelatedTime(PLONGLONG systemTime) {
    Clock::time_point now = Clock::now();
    if (systemTime != nullptr) *systemTime = hundredNs(now.time_since_epoch());
    std::lock_guard lock(mutex_);
    return streamTimeLocked(now);
}

LONGLONG PinClock::GetCorrelatedPhysicalTime(PLONGLONG systemTime) {
    Clock::time_point now = Clock::now();
    if (systemTime != nullptr) *systemTime = hundredNs(now.time_since_epoch());
    return hundredNs(now - created_);
}

NTSTATUS PinClock::GetResolution(PKSRESOLUTION resolution) {
    if (resolution == nullptr) return STATUS_INVALID_PARAMETER;
    resolution->Granularity = 1;
    resolution->Error = 0;
    return STATUS_SUCCESS;
}

NTSTATUS PinClock::GetState(PKSSTATE state) {
    if (state == nullptr) return STATUS_INVALID_PARAMETER;
    std::lock_guard lock(mutex_);
    *state = state_;
    return STATUS_SUCCESS;
}

void PinClock::setState(KSSTATE state) noexcept {
    std::lock_guard lock(mutex_);
    Clock::time_point now = Clock::now();
    if (state_ == KSSTATE_RUN && state != KSSTATE_RUN) heldTime_ = streamTimeLocked(now);
    if (state_ != KSSTATE_RUN && state == KSSTATE_RUN) runStart_ = now;
    if (state == KSSTATE_STOP) heldTime_ = 0;
    state_ = state;
}

}  // namespace bayercam::host::ks
