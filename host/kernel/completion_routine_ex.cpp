// IoSetCompletionRoutineEx: a completion routine behind a small allocated context, which can
// fail as on the platform. The context is freed when completion reaches it.
#include <atomic>

#include "host/kernel/failure_injection.h"
#include "host/kernel/irp.h"
#include "host/kernel/pool.h"

namespace {

using namespace bayercam::host;

constexpr ULONG kContextTag = injection::kCompletionContextSite;

struct CompletionContext {
    PIO_COMPLETION_ROUTINE routine;
    PVOID context;
    BOOLEAN onSuccess;
    BOOLEAN onError;
    BOOLEAN onCancel;
};

NTSTATUS completeThroughContext(PDEVICE_OBJECT device, PIRP irp, PVOID raw) {
    const CompletionContext c = *static_cast<CompletionContext*>(raw);
    pool::freeSystem(raw, kContextTag);
    const bool success = NT_SUCCESS(irp->IoStatus.Status);
    const bool cancelled = std::atomic_ref<BOOLEAN>(irp->Cancel).load() != FALSE;
    if ((success && c.onSuccess) || (!success && c.onError) || (cancelled && c.onCancel)) {
        return c.routine(device, irp, c.context);
    }
    // Not wanted: behave as a location without a routine would.
    if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) IoMarkIrpPending(irp);
    return STATUS_SUCCESS;
}

}  // namespace

extern "C" NTSTATUS IoSetCompletionRoutineEx(PDEVICE_OBJECT, PIRP Irp,
                                             PIO_COMPLETION_ROUTINE CompletionRoutine,
                                             PVOID Context, BOOLEAN InvokeOnSuccess,
                                             BOOLEAN InvokeOnError, BOOLEAN InvokeOnCancel) {
    auto* c = static_cast<CompletionContext*>(
        pool::allocateSystem(sizeof(CompletionContext), kContextTag));
    if (!c) return STATUS_INSUFFICIENT_RESOURCES;
    *c = CompletionContext{CompletionRoutine, Context, InvokeOnSuccess, InvokeOnError,
                           InvokeOnCancel};
    IoSetCompletionRoutine(Irp, completeThroughContext, c, TRUE, TRUE, TRUE);
    return STATUS_SUCCESS;
}
