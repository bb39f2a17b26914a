// Cancel routines, IoCancelIrp and the cancel spin lock.
#include <atomic>

#include "host/kernel/irp.h"
#include "host/kernel/verifier.h"

namespace {

// The one system-wide cancel spin lock.
KSPIN_LOCK cancelLock = 0;

}  // namespace

using namespace bayercam::host;

extern "C" PDRIVER_CANCEL IoSetCancelRoutine(PIRP Irp, PDRIVER_CANCEL CancelRoutine) {
    return std::atomic_ref<PDRIVER_CANCEL>(Irp->CancelRoutine).exchange(CancelRoutine);
}

extern "C" VOID IoAcquireCancelSpinLock(PKIRQL Irql) {
    *Irql = KeAcquireSpinLockRaiseToDpc(&cancelLock);
}

extern "C" VOID IoReleaseCancelSpinLock(KIRQL Irql) { KeReleaseSpinLock(&cancelLock, Irql); }

extern "C" BOOLEAN IoCancelIrp(PIRP Irp) {
    if (!irps::checkIrp(Irp, "IoCancelIrp")) return FALSE;
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    std::atomic_ref<BOOLEAN>(Irp->Cancel).store(TRUE);
    // Taking the routine out is what decides the race with completion: whoever clears it
    // first owns the request, so a request is never cancelled twice.
    PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
    if (!routine) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    if (Irp->CurrentLocation > Irp->StackCount) {
        verifier::report("IoCancelIrp: a cancel routine is set on a request no driver holds");
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    Irp->CancelIrql = irql;
    // The routine releases the cancel spin lock with IoReleaseCancelSpinLock(Irp->CancelIrql).
    routine(IoGetCurrentIrpStackLocation(Irp)->DeviceObject, Irp);
    return TRUE;
}
