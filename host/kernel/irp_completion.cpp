// IofCompleteRequest: runs the completion routines from the bottom of the stack up, as the
// platform does, and finishes requests built by IoBuildDeviceIoControlRequest.
#include <atomic>
#include <string>

#include "host/kernel/irp.h"
#include "host/kernel/verifier.h"

namespace {

using namespace bayercam::host;
using irps::Phase;

bool wantsInvocation(PIRP irp, UCHAR control) {
    const bool success = NT_SUCCESS(irp->IoStatus.Status);
    const bool cancelled = std::atomic_ref<BOOLEAN>(irp->Cancel).load() != FALSE;
    return (success && (control & SL_INVOKE_ON_SUCCESS)) ||
           (!success && (control & SL_INVOKE_ON_ERROR)) ||
           (cancelled && (control & SL_INVOKE_ON_CANCEL));
}

// What the platform clears in a stack location it leaves behind.
void clearLocation(PIO_STACK_LOCATION stack) {
    stack->MinorFunction = 0;
    stack->Flags = 0;
    stack->Control = 0;
    stack->Parameters.Others = {nullptr, nullptr, nullptr, nullptr};
    stack->FileObject = nullptr;
}

// Checks that the request may be completed now and takes it into the Completing phase.
bool beginCompletion(PIRP irp) {
    irps::IrpTrailer& trailer = irps::trailerOf(irp);
    Phase phase = Phase::Dispatched;
    if (!trailer.phase.compare_exchange_strong(phase, Phase::Completing)) {
        // A request from IoBuildDeviceIoControlRequest given back at the top (or never sent)
        // is finished by its owner with IoCompleteRequest.
        const bool ownerFinishes = phase == Phase::Owned && trailer.threaded &&
                                   irp->CurrentLocation == irp->StackCount + 1;
        if (!ownerFinishes) {
            verifier::report(phase == Phase::Completing
                                 ? "IofCompleteRequest of a request that is already completing "
                                   "(completed twice)"
                                 : "IofCompleteRequest of a request in no driver's hands "
                                   "(completed twice, or never passed to a driver)");
            return false;
        }
        trailer.phase.store(Phase::Completing);
    }
    if (irp->CurrentLocation > irp->StackCount + 1) {
        verifier::report("IofCompleteRequest past the request's last stack location");
        return false;
    }
    if (std::atomic_ref<PDRIVER_CANCEL>(irp->CancelRoutine).load()) {
        verifier::report("IofCompleteRequest of a request whose cancel routine is still set");
    }
    if (irp->IoStatus.Status == STATUS_PENDING) {
        verifier::report("IofCompleteRequest with STATUS_PENDING as the final status");
    }
    return true;
}

// Calls one completion routine; false when it kept the request (STATUS_MORE_PROCESSING_REQUIRED).
bool invoke(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context) {
    const bool top = irp->CurrentLocation == irp->StackCount + 1;
    PDEVICE_OBJECT device = top ? nullptr : IoGetCurrentIrpStackLocation(irp)->DeviceObject;
    irps::IrpTrailer& trailer = irps::trailerOf(irp);
    // The routine may keep the request and hand it on before it returns (or its creator may
    // free it), so its phase is set first and nothing is touched after a keeping return.
    trailer.phase.store(top ? Phase::Owned : Phase::Dispatched);
    if (routine(device, irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return false;
    trailer.phase.store(Phase::Completing);
    return true;
}

}  // namespace

extern "C" VOID IofCompleteRequest(PIRP Irp, CCHAR) {
    if (!irps::checkIrp(Irp, "IofCompleteRequest") || !beginCompletion(Irp)) return;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    for (Irp->CurrentLocation++, Irp->Tail.Overlay.CurrentStackLocation++;
         Irp->CurrentLocation <= Irp->StackCount + 1;
         stack++, Irp->CurrentLocation++, Irp->Tail.Overlay.CurrentStackLocation++) {
        Irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
        if (wantsInvocation(Irp, stack->Control)) {
            PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
            PVOID context = stack->Context;
            clearLocation(stack);
            if (!invoke(Irp, routine, context)) return;
        } else {
            // Nobody above asked to see the completion: carry the pending mark up for them.
            if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount) {
                IoMarkIrpPending(Irp);
            }
            clearLocation(stack);
        }
    }
    // Past the last location the loop left CurrentLocation one beyond StackCount + 1.
    Irp->CurrentLocation--;
    Irp->Tail.Overlay.CurrentStackLocation--;
    if (irps::trailerOf(Irp).threaded) {
        irps::finishThreadedRequest(Irp);
        return;
    }
    irps::trailerOf(Irp).phase.store(Phase::Owned);
    verifier::report(
        "request from IoAllocateIrp completed past its creator: the creator's "
        "completion routine must return STATUS_MORE_PROCESSING_REQUIRED");
}
