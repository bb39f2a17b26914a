#include "tests/host/usb/chunked_read.h"

#include <algorithm>
#include <cstring>

namespace bayercam::host::testing {
namespace {

constexpr ULONG kTag = 'T' | ('s' << 8) | ('t' << 16) | ('U' << 24);

template <typename T>
T* allocateZeroed() {
    void* p = ExAllocatePoolWithTag(NonPagedPool, sizeof(T), kTag);
    if (p != nullptr) std::memset(p, 0, sizeof(T));
    return static_cast<T*>(p);
}

// Sends the URB down in the IRP's next location; `routine` sees the completion.
NTSTATUS sendUrb(PDEVICE_OBJECT pdo, PIRP irp, PVOID urb, PIO_COMPLETION_ROUTINE routine,
                 PVOID context) {
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = urb;
    IoSetCompletionRoutine(irp, routine, context, TRUE, TRUE, TRUE);
    return IofCallDriver(pdo, irp);
}

NTSTATUS signalDone(PDEVICE_OBJECT, PIRP, PVOID event) {
    KeSetEvent(static_cast<PKEVENT>(event), 1, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

AsyncPipeRequest::AsyncPipeRequest(PDEVICE_OBJECT pdo, USHORT function, USBD_PIPE_HANDLE pipe)
    : pdo_(pdo) {
    KeInitializeEvent(&done_, NotificationEvent, FALSE);
    irp_ = IoAllocateIrp(static_cast<CCHAR>(pdo->StackSize + 1), FALSE);
    urb_ = allocateZeroed<_URB_PIPE_REQUEST>();
    urb_->Hdr.Length = sizeof(*urb_);
    urb_->Hdr.Function = function;
    urb_->PipeHandle = pipe;
}

AsyncPipeRequest::~AsyncPipeRequest() {
    IoFreeIrp(irp_);
    ExFreePoolWithTag(urb_, kTag);
}

NTSTATUS AsyncPipeRequest::send() { return sendUrb(pdo_, irp_, urb_, signalDone, &done_); }

bool AsyncPipeRequest::wait(unsigned milliseconds) {
    LARGE_INTEGER timeout{.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000};
    return KeWaitForSingleObject(&done_, Executive, KernelMode, FALSE, &timeout) == STATUS_SUCCESS;
}

ChunkedRead::ChunkedRead(PDEVICE_OBJECT pdo, USBD_PIPE_HANDLE pipe, std::uint8_t* buffer,
                         std::size_t length, ULONG flags, std::size_t chunkSize)
    : pdo_(pdo) {
    frameMdl_ = IoAllocateMdl(buffer, static_cast<ULONG>(length), FALSE, FALSE, nullptr);
    MmBuildMdlForNonPagedPool(frameMdl_);
    for (std::size_t offset = 0; offset < length; offset += chunkSize) {
        auto chunk = std::make_unique<Chunk>();
        chunk->owner = this;
        chunk->length = static_cast<ULONG>(std::min(chunkSize, length - offset));
        chunk->irp = IoAllocateIrp(static_cast<CCHAR>(pdo->StackSize + 1), FALSE);
        chunk->mdl = IoAllocateMdl(buffer, static_cast<ULONG>(length), FALSE, FALSE, nullptr);
        IoBuildPartialMdl(frameMdl_, chunk->mdl, buffer + offset, chunk->length);
        chunk->urb = allocateZeroed<_URB_BULK_OR_INTERRUPT_TRANSFER>();
        chunk->urb->Hdr.Length = sizeof(*chunk->urb);
        chunk->urb->Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
        chunk->urb->PipeHandle = pipe;
        chunk->urb->TransferFlags = flags;
        chunk->urb->TransferBufferMDL = chunk->mdl;
        chunk->urb->TransferBufferLength = chunk->length;
        chunks_.push_back(std::move(chunk));
    }
}

ChunkedRead::~ChunkedRead() {
    for (auto& chunk : chunks_) {
        IoFreeIrp(chunk->irp);
        IoFreeMdl(chunk->mdl);
        ExFreePoolWithTag(chunk->urb, kTag);
    }
    IoFreeMdl(frameMdl_);
}

std::size_t ChunkedRead::post() {
    for (; posted_ < chunks_.size(); ++posted_) {
        Chunk& chunk = *chunks_[posted_];
        chunk.callStatus = sendUrb(pdo_, chunk.irp, chunk.urb, &ChunkedRead::completed, &chunk);
        if (!NT_SUCCESS(chunk.callStatus)) break;
    }
    return posted_;
}

NTSTATUS ChunkedRead::completed(PDEVICE_OBJECT, PIRP, PVOID context) {
    auto* chunk = static_cast<Chunk*>(context);
    // The owner's count goes last: a waiter that sees it may destroy the owner.
    chunk->completions.fetch_add(1);
    chunk->owner->done_.fetch_add(1);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

bool ChunkedRead::waitAll(unsigned milliseconds) {
    for (;;) {
        if (done_.load() >= static_cast<LONG>(posted_)) return true;
        if (milliseconds-- == 0) return false;
        LARGE_INTEGER tick{.QuadPart = -10000};
        KeDelayExecutionThread(KernelMode, FALSE, &tick);
    }
}

void ChunkedRead::cancelAll() {
    for (std::size_t i = 0; i < posted_; ++i) IoCancelIrp(chunks_[i]->irp);
}

}  // namespace bayercam::host::testing
