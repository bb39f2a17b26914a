// The pin's state walk: STOP, ACQUIRE, PAUSE, RUN one step at a time, each step reported to
// the minidriver as SetDeviceState(new, old). The step to STOP waits for a running pass, hands
// every queued frame back to the client and checks that no stream pointer is left locked.
#include "host/kernel/verifier.h"
#include "host/ks/ks_pin.h"
#include "host/ks/pin_clock.h"

namespace bayercam::host::ks {

NTSTATUS KsPin::setState(KSSTATE target) noexcept {
    if (target < KSSTATE_STOP || target > KSSTATE_RUN) return STATUS_INVALID_PARAMETER;
    std::lock_guard lock(control_);
    if (!created_) return STATUS_INVALID_DEVICE_STATE;
    return walk(target, false);
}

KSSTATE KsPin::state() noexcept {
    std::lock_guard lock(control_);
    return ks_.DeviceState;
}

NTSTATUS KsPin::walk(KSSTATE target, bool force) noexcept {
    NTSTATUS result = STATUS_SUCCESS;
    while (ks_.DeviceState != target) {
        int direction = target > ks_.DeviceState ? 1 : -1;
        auto next = static_cast<KSSTATE>(ks_.DeviceState + direction);
        NTSTATUS status = step(next);
        if (NT_SUCCESS(status)) continue;
        if (!force) return status;
        // Closing: the step is taken whatever the minidriver answered.
        result = status;
        std::unique_lock hold = processor_->holdPasses();
        ks_.DeviceState = next;
        ks_.ClientState = next;
    }
    if (force) {
        // A refused step to STOP still ends like one: no frame stays with the pin.
        std::unique_lock hold = processor_->holdPasses();
        if (frames_.locked()) {
            verifier::report("ks: a stream pointer is still locked when the pin stops");
        }
        frames_.flush();
        clock_->setState(KSSTATE_STOP);
    }
    return result;
}

NTSTATUS KsPin::callSetDeviceState(KSSTATE to, KSSTATE from) noexcept {
    const KSPIN_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    if (dispatch == nullptr || dispatch->SetDeviceState == nullptr) return STATUS_SUCCESS;
    return dispatch->SetDeviceState(&ks_, to, from);
}

NTSTATUS KsPin::step(KSSTATE to) noexcept {
    KSSTATE from = ks_.DeviceState;
    if (to == KSSTATE_STOP) {
        // No pass runs across the step to STOP.
        std::unique_lock hold = processor_->holdPasses();
        NTSTATUS status = callSetDeviceState(to, from);
        if (!NT_SUCCESS(status)) return status;
        ks_.DeviceState = to;
        ks_.ClientState = to;
        if (frames_.locked())
            verifier::report("ks: a stream pointer is still locked when the pin stops");
        frames_.flush();
        clock_->setState(to);
        return STATUS_SUCCESS;
    }
    NTSTATUS status = callSetDeviceState(to, from);
    if (!NT_SUCCESS(status)) return status;
    {
        // A pass that is running when the pin leaves RUN finishes first.
        std::unique_lock hold = processor_->holdPasses();
        ks_.DeviceState = to;
        ks_.ClientState = to;
    }
    clock_->setState(to);
    processor_->stateChanged();
    return STATUS_SUCCESS;
}

}  // namespace bayercam::host::ks
