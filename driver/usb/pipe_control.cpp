// Stopping traffic: aborting marked pipes and cancelling the running frame read's chunks.
#include "driver/usb/usb_requests.h"

namespace {

bool PipeIsMarked(UsbTarget* usb, ULONG pipe) {
    KIRQL irql = KeAcquireSpinLockRaiseToDpc(&usb->transferLock);
    bool marked = usb->pipeInUse != nullptr && usb->pipeInUse[pipe] != 0;
    KeReleaseSpinLock(&usb->transferLock, irql);
    return marked;
}

}  // namespace

PUSBD_PIPE_INFORMATION PipeOf(UsbTarget* usb, ULONG index) {
    PUSBD_INTERFACE_INFORMATION info = usb->interfaceInfo;
    if (info == nullptr || index >= info->NumberOfPipes) return nullptr;
    return &info->Pipes[index];
}

VOID MarkPipe(UsbTarget* usb, ULONG pipe, UCHAR mark) {
    KIRQL irql = KeAcquireSpinLockRaiseToDpc(&usb->transferLock);
    if (usb->pipeInUse != nullptr && PipeOf(usb, pipe) != nullptr) usb->pipeInUse[pipe] = mark;
    KeReleaseSpinLock(&usb->transferLock, irql);
}

// Passive level.
VOID AbortPipes(CameraDevice* device) {
    UsbTarget* usb = &device->usb;
    if (usb->interfaceInfo == nullptr || usb->pipeInUse == nullptr) return;
    for (ULONG pipe = 0; pipe < usb->interfaceInfo->NumberOfPipes; ++pipe) {
        if (!PipeIsMarked(usb, pipe)) continue;
        PURB urb = static_cast<PURB>(AllocateUsbBuffer(sizeof(_URB_PIPE_REQUEST)));
        if (urb == nullptr) break;
        urb->UrbPipeRequest.Hdr.Length = sizeof(_URB_PIPE_REQUEST);
        urb->UrbPipeRequest.Hdr.Function = URB_FUNCTION_ABORT_PIPE;
        urb->UrbPipeRequest.PipeHandle = usb->interfaceInfo->Pipes[pipe].PipeHandle;
        NTSTATUS status = SubmitUrbSync(usb, urb);
        FreeUsbBuffer(urb);
        if (NT_SUCCESS(status)) MarkPipe(usb, pipe, 0);
    }
    // Chunks posted after the pipe's abort, once its mark was cleared, are not on the pipe's
    // abort; the read's own slots name them.
    CancelPendingChunks(usb);
}

ULONG CancelPendingChunks(UsbTarget* usb) {
    ULONG cancelled = 0;
    KIRQL irql = KeAcquireSpinLockRaiseToDpc(&usb->transferLock);
    if (usb->transferSlots != nullptr) {
        LONG planned = InterlockedCompareExchange(&usb->plannedTransfers, 0, 0);
        for (LONG i = 0; i < planned; ++i) {
            TransferSlot& slot = usb->transferSlots[i];
            if (InterlockedCompareExchange(&slot.completed, 0, 0) == 0 && slot.irp != nullptr) {
                IoCancelIrp(slot.irp);
                ++cancelled;
            }
        }
    }
    KeReleaseSpinLock(&usb->transferLock, irql);
    return cancelled;
}

// Passive level. The lock is held only around the scan, never while waiting; completions may
// run on other processors meanwhile and mark their slots.
VOID CancelTransfers(CameraDevice* device) {
    if (CancelPendingChunks(&device->usb) != 0) {
        KeWaitForSingleObject(&device->usb.transfersDone, Executive, KernelMode, FALSE, nullptr);
    }
}
