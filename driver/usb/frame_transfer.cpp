// ReadFrame and the chunked read of one raw frame.
//
// Per-read state lives in the device's UsbTarget: the slot array, the frame MDL and the two
// counters are set up and the chunks posted under transferLock (so posting runs at dispatch
// level); the lock is released around the synchronous packet sends and never held while
// waiting. ChunkCompleted takes no lock: it touches its own slot, its request and the shared
// completion counter, all by atomic operations.
#include "driver/usb/frame_transfer.h"

#include "driver/usb/command_protocol.h"
#include "driver/usb/usb_requests.h"

volatile LONG transferTimeoutMs = 3000;

namespace {

enum class PostOutcome { Posted, CallFailed, OutOfMemory };

// Builds and posts the request for chunk i, bytes offset .. offset + size - 1 of the frame.
// On an allocation failure nothing of this chunk is kept and the slot stays empty.
PostOutcome PostChunk(UsbTarget* usb, ULONG i, ULONG offset, ULONG size, ULONG length) {
    const USBD_PIPE_INFORMATION& pipe = usb->interfaceInfo->Pipes[FRAME_PIPE];
    PIRP irp = IoAllocateIrp(static_cast<CCHAR>(usb->lowerDevice->StackSize + 1), FALSE);
    if (irp == nullptr) return PostOutcome::OutOfMemory;
    PUCHAR frame = static_cast<PUCHAR>(MmGetMdlVirtualAddress(usb->frameMdl));
    PMDL chunkMdl = IoAllocateMdl(frame, length, FALSE, FALSE, irp);
    PURB urb = chunkMdl ? static_cast<PURB>(AllocateUsbBuffer(sizeof(URB))) : nullptr;
    if (urb == nullptr) {
        if (chunkMdl != nullptr) {
            irp->MdlAddress = nullptr;
            IoFreeMdl(chunkMdl);
        }
        IoFreeIrp(irp);
        return PostOutcome::OutOfMemory;
    }
    IoBuildPartialMdl(usb->frameMdl, chunkMdl, frame + offset, size);
    RtlZeroMemory(urb, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER));
    _URB_BULK_OR_INTERRUPT_TRANSFER& transfer = urb->UrbBulkOrInterruptTransfer;
    transfer.Hdr.Length = sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER);
    transfer.Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    transfer.PipeHandle = pipe.PipeHandle;
    transfer.TransferFlags = TransferFlagsOf(&pipe);
    transfer.TransferBuffer = nullptr;
    transfer.TransferBufferMDL = irp->MdlAddress;
    transfer.TransferBufferLength = MmGetMdlByteCount(irp->MdlAddress);
    transfer.UrbLink = nullptr;

    TransferSlot& slot = usb->transferSlots[i];
    slot.owner = usb;
    slot.urb = urb;
    slot.irp = irp;
    slot.partialMdl = chunkMdl;
    InterlockedExchange(&slot.completed, 0);

    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = urb;
    IoSetCompletionRoutine(irp, ChunkCompleted, &slot, TRUE, TRUE, TRUE);
    NTSTATUS status = IofCallDriver(usb->lowerDevice, irp);
    return NT_SUCCESS(status) ? PostOutcome::Posted : PostOutcome::CallFailed;
}

// Sets up the slots, counters and frame MDL of a read of n chunks. Caller holds transferLock.
NTSTATUS PrepareRead(UsbTarget* usb, ULONG n, ULONG length, PUCHAR buffer) {
    auto* slots = static_cast<TransferSlot*>(AllocateUsbBuffer((n + 1) * sizeof(TransferSlot)));
    if (slots == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(slots, (n + 1) * sizeof(TransferSlot));
    usb->transferSlots = slots;
    InterlockedExchange(&usb->completedTransfers, 0);
    InterlockedExchange(&usb->plannedTransfers, static_cast<LONG>(n));
    PMDL frameMdl = IoAllocateMdl(buffer, length, FALSE, FALSE, nullptr);
    if (frameMdl == nullptr) {
        FreeUsbBuffer(slots);
        usb->transferSlots = nullptr;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    MmBuildMdlForNonPagedPool(frameMdl);
    usb->frameMdl = frameMdl;
    KeResetEvent(&usb->transfersDone);
    return STATUS_SUCCESS;
}

// Posts chunks until all are posted, one cannot be passed down, or an allocation fails.
// Returns the number of chunks handed to the bus driver.
ULONG PostChunks(UsbTarget* usb, ULONG n, ULONG length, PostOutcome* outcome) {
    KIRQL irql = KeAcquireSpinLockRaiseToDpc(&usb->transferLock);
    ULONG offset = 0;
    ULONG posted = 0;
    *outcome = PostOutcome::Posted;
    for (ULONG i = 0; i < n && *outcome == PostOutcome::Posted; ++i) {
        ULONG size = length - offset < FRAME_CHUNK_SIZE ? length - offset : FRAME_CHUNK_SIZE;
        *outcome = PostChunk(usb, i, offset, size, length);
        if (*outcome != PostOutcome::OutOfMemory) ++posted;
        offset += size;
    }
    KeReleaseSpinLock(&usb->transferLock, irql);
    return posted;
}

// Chunks that were never posted count as completed, so the count can reach the plan; of the
// reader and the completions, the one whose addition reaches it sets transfersDone.
VOID CountUnposted(UsbTarget* usb, ULONG n, ULONG posted) {
    if (posted == n) return;
    const LONG planned = static_cast<LONG>(n);
    LONG before = InterlockedExchangeAdd(&usb->completedTransfers, static_cast<LONG>(n - posted));
    if (before < planned && before + static_cast<LONG>(n - posted) >= planned) {
        KeSetEvent(&usb->transfersDone, IO_NO_INCREMENT, FALSE);
    }
}

// Cancels the pending chunks and waits until every posted chunk's completion has run to its
// end: only then may the read's requests, MDLs and URBs go.
VOID FinishPostedChunks(UsbTarget* usb, ULONG n, ULONG posted) {
    CountUnposted(usb, n, posted);
    CancelPendingChunks(usb);
    KeWaitForSingleObject(&usb->transfersDone, Executive, KernelMode, FALSE, nullptr);
}

// After posting failed: reset the frame pipe, and the port if that fails.
VOID RecoverFramePipe(UsbTarget* usb) {
    NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
    PURB urb = static_cast<PURB>(AllocateUsbBuffer(sizeof(_URB_PIPE_REQUEST)));
    if (urb != nullptr) {
        urb->UrbPipeRequest.Hdr.Length = sizeof(_URB_PIPE_REQUEST);
        urb->UrbPipeRequest.Hdr.Function = URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL;
        urb->UrbPipeRequest.PipeHandle = usb->interfaceInfo->Pipes[FRAME_PIPE].PipeHandle;
        status = SubmitUrbSync(usb, urb);
        FreeUsbBuffer(urb);
    }
    if (!NT_SUCCESS(status)) ResetPortIfDisabled(usb);
}

// A read succeeds only when every chunk completed successfully and moved all its bytes.
bool EveryChunkWhole(UsbTarget* usb, ULONG n) {
    for (ULONG i = 0; i < n; ++i) {
        const TransferSlot& slot = usb->transferSlots[i];
        if (slot.irp == nullptr || !NT_SUCCESS(slot.irp->IoStatus.Status) ||
            slot.irp->IoStatus.Information != MmGetMdlByteCount(slot.partialMdl)) {
            return false;
        }
    }
    return true;
}

// A chunk that the bus failed (not one cancelled by a time-out or a stop) may have left the
// pipe halted, or the port disabled: no later read could succeed until they are reset.
bool AnyChunkFailed(UsbTarget* usb, ULONG n) {
    for (ULONG i = 0; i < n; ++i) {
        const TransferSlot& slot = usb->transferSlots[i];
        if (slot.irp != nullptr && !NT_SUCCESS(slot.irp->IoStatus.Status) &&
            slot.irp->IoStatus.Status != STATUS_CANCELLED) {
            return true;
        }
    }
    return false;
}

// Releases every chunk's request, MDL and URB, the slot array and the frame MDL.
VOID ReleaseRead(UsbTarget* usb, ULONG n) {
    KIRQL irql = KeAcquireSpinLockRaiseToDpc(&usb->transferLock);
    for (ULONG i = 0; i < n; ++i) {
        TransferSlot& slot = usb->transferSlots[i];
        if (slot.irp != nullptr) slot.irp->MdlAddress = nullptr;
        if (slot.partialMdl != nullptr) IoFreeMdl(slot.partialMdl);
        if (slot.irp != nullptr) IoFreeIrp(slot.irp);
        FreeUsbBuffer(slot.urb);
    }
    FreeUsbBuffer(usb->transferSlots);
    usb->transferSlots = nullptr;
    IoFreeMdl(usb->frameMdl);
    usb->frameMdl = nullptr;
    if (usb->pipeInUse != nullptr) usb->pipeInUse[FRAME_PIPE] = 0;
    KeReleaseSpinLock(&usb->transferLock, irql);
}

NTSTATUS CheckFramePipe(UsbTarget* usb) {
    PUSBD_INTERFACE_INFORMATION info = usb->interfaceInfo;
    if (info == nullptr) return STATUS_UNSUCCESSFUL;
    if (info->NumberOfPipes <= FRAME_PIPE) return STATUS_INVALID_PARAMETER;
    const USBD_PIPE_INFORMATION& pipe = info->Pipes[FRAME_PIPE];
    if (pipe.PipeType != UsbdPipeTypeBulk && pipe.PipeType != UsbdPipeTypeInterrupt) {
        return STATUS_INVALID_PARAMETER;
    }
    if (pipe.PipeHandle == nullptr) return STATUS_UNSUCCESSFUL;
    // The transfer control packets go out on pipe 0: it must be the OUT pipe, or each would be
    // a read that waits out its bound.
    PUSBD_PIPE_INFORMATION command = PipeOf(usb, COMMAND_PIPE);
    if (!PipeDirectionIs(&pipe, true) || command == nullptr || !PipeDirectionIs(command, false)) {
        return STATUS_INVALID_PARAMETER;
    }
    return STATUS_SUCCESS;
}

// Waits for every planned chunk; past transferTimeoutMs the pending ones are cancelled.
NTSTATUS AwaitChunks(UsbTarget* usb, ULONG n, ULONG posted) {
    LARGE_INTEGER timeout;
    timeout.QuadPart = -static_cast<LONGLONG>(static_cast<ULONG>(
                           InterlockedCompareExchange(&transferTimeoutMs, 0, 0))) *
                       10000;
    NTSTATUS wait =
        KeWaitForSingleObject(&usb->transfersDone, Executive, KernelMode, FALSE, &timeout);
    if (wait == STATUS_TIMEOUT) {
        FinishPostedChunks(usb, n, posted);
        return STATUS_TIMEOUT;
    }
    return EveryChunkWhole(usb, n) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

}  // namespace

bool ReadFrame(CameraDevice* device, PUCHAR buffer, bool* ok) {
    ULONG length = device->rawFrameSize;
    RtlZeroMemory(device->frameRequestPacket, COMMAND_PACKET_SIZE);
    device->frameRequestPacket[0] = static_cast<UCHAR>(CommandCode::RequestFrame);
    ULONG transferred = 0;
    TransferPacket(device, COMMAND_PIPE, device->frameRequestPacket, &transferred);
    *ok = ReadFrameChunked(device, length, buffer) == STATUS_SUCCESS;
    return *ok;
}

NTSTATUS ReadFrameChunked(CameraDevice* device, ULONG length, PUCHAR buffer) {
    UsbTarget* usb = &device->usb;
    NTSTATUS status = CheckFramePipe(usb);
    if (!NT_SUCCESS(status)) return status;
    // No geometry yet: there is nothing to read.
    if (length == 0) return STATUS_INVALID_PARAMETER;
    ULONG n = length / FRAME_CHUNK_SIZE + (length % FRAME_CHUNK_SIZE != 0 ? 1 : 0);

    KIRQL irql = KeAcquireSpinLockRaiseToDpc(&usb->transferLock);
    status = PrepareRead(usb, n, length, buffer);
    // While a read is posted the frame pipe is marked, so a stop can abort it at once.
    if (NT_SUCCESS(status) && usb->pipeInUse != nullptr) usb->pipeInUse[FRAME_PIPE] = 1;
    KeReleaseSpinLock(&usb->transferLock, irql);
    if (!NT_SUCCESS(status)) return status;

    SendTransferControl(device, false);
    PostOutcome outcome;
    ULONG posted = PostChunks(usb, n, length, &outcome);
    if (outcome == PostOutcome::OutOfMemory) {
        // The chunks already posted are finished before their resources go.
        FinishPostedChunks(usb, n, posted);
        ReleaseRead(usb, n);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    SendTransferControl(device, true);
    if (outcome == PostOutcome::CallFailed) RecoverFramePipe(usb);
    status = AwaitChunks(usb, n, posted);
    const bool failed = status == STATUS_UNSUCCESSFUL && AnyChunkFailed(usb, n);
    ReleaseRead(usb, n);
    if (failed) RecoverFramePipe(usb);
    return status;
}

VOID SendTransferControl(CameraDevice* device, bool posted) {
    UsbTarget* usb = &device->usb;
    PUSBD_PIPE_INFORMATION pipe = PipeOf(usb, COMMAND_PIPE);
    if (pipe == nullptr || pipe->PipeHandle == nullptr || !PipeDirectionIs(pipe, false)) return;
    device->transferControlPacket[0] =
        static_cast<UCHAR>(posted ? CommandCode::ReadsPosted : CommandCode::RequestFrame);
    PURB urb = static_cast<PURB>(AllocateUsbBuffer(sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER)));
    if (urb == nullptr) return;
    _URB_BULK_OR_INTERRUPT_TRANSFER& transfer = urb->UrbBulkOrInterruptTransfer;
    transfer.Hdr.Length = sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER);
    transfer.Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    transfer.PipeHandle = pipe->PipeHandle;
    transfer.TransferFlags = TransferFlagsOf(pipe);
    transfer.TransferBufferLength = COMMAND_PACKET_SIZE;
    transfer.TransferBuffer = device->transferControlPacket;
    transfer.TransferBufferMDL = nullptr;
    transfer.UrbLink = nullptr;
    // Bounded like every command exchange: a camera that never takes the packet must not hold
    // the grabber thread, nor the stop that waits for it.
    SubmitUrbBounded(usb, urb,
                     static_cast<ULONG>(InterlockedCompareExchange(&commandTimeoutMs, 0, 0)));
    FreeUsbBuffer(urb);
}

// Everything of the read that this routine touches, the plan included, is touched before its
// increment of completedTransfers: once the count reaches the plan the reader may free the
// slot, the request and the URB, and an unplugged device itself. Only the increment that
// reaches the plan sets the event, as its last act; the reader waits for that event.
NTSTATUS ChunkCompleted(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    if (irp == nullptr) return STATUS_SUCCESS;
    auto* slot = static_cast<TransferSlot*>(context);
    const NTSTATUS status = irp->IoStatus.Status;
    if (slot == nullptr || slot->owner == nullptr || slot->irp != irp) return status;
    UsbTarget* usb = slot->owner;
    PURB urb = slot->urb;
    if (urb != nullptr) {
        irp->IoStatus.Information =
            NT_SUCCESS(status) ? urb->UrbBulkOrInterruptTransfer.TransferBufferLength : 0;
    }
    const LONG planned = InterlockedCompareExchange(&usb->plannedTransfers, 0, 0);
    InterlockedIncrement(&slot->completed);
    const LONG done = InterlockedIncrement(&usb->completedTransfers);
    if (urb == nullptr) return status;
    if (done >= planned) KeSetEvent(&usb->transfersDone, 1, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}
