// Stack location helpers and completion routine registration.
#include <cstddef>
#include <string>

#include "host/kernel/irp.h"
#include "host/kernel/verifier.h"

namespace {

using namespace bayercam::host;

bool hasNextLocation(PIRP irp, const char* service) {
    if (irp->CurrentLocation > 1) return true;
    verifier::report(std::string(service) + " on a request with no next stack location");
    return false;
}

}  // namespace

extern "C" PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP Irp) {
    return Irp->Tail.Overlay.CurrentStackLocation;
}

extern "C" PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP Irp) {
    return Irp->Tail.Overlay.CurrentStackLocation - 1;
}

extern "C" VOID IoSetNextIrpStackLocation(PIRP Irp) {
    if (!hasNextLocation(Irp, "IoSetNextIrpStackLocation")) return;
    Irp->CurrentLocation--;
    Irp->Tail.Overlay.CurrentStackLocation--;
}

extern "C" VOID IoSkipCurrentIrpStackLocation(PIRP Irp) {
    if (Irp->CurrentLocation > Irp->StackCount) {
        verifier::report("IoSkipCurrentIrpStackLocation on a request with no current location");
        return;
    }
    Irp->CurrentLocation++;
    Irp->Tail.Overlay.CurrentStackLocation++;
}

extern "C" VOID IoCopyCurrentIrpStackLocationToNext(PIRP Irp) {
    if (!hasNextLocation(Irp, "IoCopyCurrentIrpStackLocationToNext")) return;
    PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(Irp);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
    // Everything up to the completion routine; the next driver's routine is its own.
    std::memcpy(next, current, offsetof(IO_STACK_LOCATION, CompletionRoutine));
    next->Control = 0;
}

extern "C" VOID IoMarkIrpPending(PIRP Irp) {
    IoGetCurrentIrpStackLocation(Irp)->Control |= SL_PENDING_RETURNED;
}

extern "C" VOID IoSetCompletionRoutine(PIRP Irp, PIO_COMPLETION_ROUTINE CompletionRoutine,
                                       PVOID Context, BOOLEAN InvokeOnSuccess,
                                       BOOLEAN InvokeOnError, BOOLEAN InvokeOnCancel) {
    if (!hasNextLocation(Irp, "IoSetCompletionRoutine")) return;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
    next->CompletionRoutine = CompletionRoutine;
    next->Context = Context;
    next->Control = 0;
    if (InvokeOnSuccess) next->Control |= SL_INVOKE_ON_SUCCESS;
    if (InvokeOnError) next->Control |= SL_INVOKE_ON_ERROR;
    if (InvokeOnCancel) next->Control |= SL_INVOKE_ON_CANCEL;
}
