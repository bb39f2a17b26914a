#include "tests/host/usb/usb_test_client.h"

#include <cstring>

namespace bayercam::host::testing {
namespace {

constexpr ULONG kTag = 'T' | ('s' << 8) | ('t' << 16) | ('U' << 24);

thread_local bool insideCallDriver = false;

template <typename T>
T* allocateZeroed(std::size_t bytes = sizeof(T)) {
    void* p = ExAllocatePoolWithTag(NonPagedPool, bytes, kTag);
    if (p != nullptr) std::memset(p, 0, bytes);
    return static_cast<T*>(p);
}

// A zeroed pipe request (abort, reset) for the pipe; null when the pool is out.
_URB_PIPE_REQUEST* newPipeRequest(USHORT function, USBD_PIPE_HANDLE pipe) {
    auto* urb = allocateZeroed<_URB_PIPE_REQUEST>();
    if (urb == nullptr) return nullptr;
    urb->Hdr.Length = sizeof(*urb);
    urb->Hdr.Function = function;
    urb->PipeHandle = pipe;
    return urb;
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

LARGE_INTEGER relativeMs(unsigned milliseconds) {
    LARGE_INTEGER timeout;
    timeout.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000;
    return timeout;
}

NTSTATUS callSync(PDEVICE_OBJECT pdo, ULONG code, PVOID argument) {
    KEVENT event;
    IO_STATUS_BLOCK iosb{};
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    PIRP irp =
        IoBuildDeviceIoControlRequest(code, pdo, nullptr, 0, nullptr, 0, TRUE, &event, &iosb);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = argument;
    NTSTATUS status = IofCallDriver(pdo, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        status = iosb.Status;
    }
    return status;
}

}  // namespace

UsbTestClient::~UsbTestClient() = default;

NTSTATUS UsbTestClient::submit(PURB urb) {
    return callSync(pdo_, IOCTL_INTERNAL_USB_SUBMIT_URB, urb);
}

NTSTATUS UsbTestClient::portStatus(ULONG& status) {
    status = 0;
    return callSync(pdo_, IOCTL_INTERNAL_USB_GET_PORT_STATUS, &status);
}

NTSTATUS UsbTestClient::resetPort() {
    return callSync(pdo_, IOCTL_INTERNAL_USB_RESET_PORT, nullptr);
}

NTSTATUS UsbTestClient::getDescriptor(UCHAR type, void* buffer, ULONG& length, USBD_STATUS* usbd) {
    auto* urb = allocateZeroed<URB>(sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST));
    if (urb == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    UsbBuildGetDescriptorRequest(urb, sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST), type, 0, 0, buffer,
                                 nullptr, length, nullptr);
    NTSTATUS status = submit(urb);
    length = urb->UrbControlDescriptorRequest.TransferBufferLength;
    if (usbd != nullptr) *usbd = urb->UrbHeader.Status;
    ExFreePoolWithTag(urb, kTag);
    return status;
}

NTSTATUS UsbTestClient::configure(ULONG maximumTransferSize) {
    std::uint8_t header[9];
    ULONG length = sizeof(header);
    NTSTATUS status = getDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, header, length);
    if (!NT_SUCCESS(status)) return status;
    configuration_.assign(header[2] | (header[3] << 8), 0);
    length = static_cast<ULONG>(configuration_.size());
    status = getDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, configuration_.data(), length);
    if (!NT_SUCCESS(status)) return status;
    auto* config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration_.data());
    std::vector<USBD_INTERFACE_LIST_ENTRY> list;
    for (LONG number = 0; number < 256 && list.size() < config->bNumInterfaces; ++number) {
        auto* found = USBD_ParseConfigurationDescriptorEx(config, config, number, 0, -1, -1, -1);
        if (found != nullptr) list.push_back({found, nullptr});
    }
    list.push_back({nullptr, nullptr});
    PURB urb = USBD_CreateConfigurationRequestEx(config, list.data());
    if (urb == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    for (ULONG p = 0; p < list[0].Interface->NumberOfPipes; ++p) {
        list[0].Interface->Pipes[p].MaximumTransferSize = maximumTransferSize;
    }
    status = submit(urb);
    interfaces_.clear();
    if (NT_SUCCESS(status)) {
        for (std::size_t i = 0; i + 1 < list.size(); ++i) {
            auto* bytes = reinterpret_cast<std::uint8_t*>(list[i].Interface);
            interfaces_.emplace_back(bytes, bytes + list[i].Interface->Length);
        }
    }
    ExFreePool(urb);
    return status;
}

NTSTATUS UsbTestClient::deconfigure() {
    auto* urb = allocateZeroed<URB>(sizeof(_URB_SELECT_CONFIGURATION));
    if (urb == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    UsbBuildSelectConfigurationRequest(urb, sizeof(_URB_SELECT_CONFIGURATION), nullptr);
    NTSTATUS status = submit(urb);
    ExFreePoolWithTag(urb, kTag);
    return status;
}

const USBD_INTERFACE_INFORMATION* UsbTestClient::interface(std::size_t index) const {
    return reinterpret_cast<const USBD_INTERFACE_INFORMATION*>(interfaces_.at(index).data());
}

USBD_PIPE_HANDLE UsbTestClient::pipe(unsigned index) const {
    return interface(0)->Pipes[index].PipeHandle;
}

NTSTATUS UsbTestClient::transfer(USBD_PIPE_HANDLE pipe, void* buffer, ULONG& length, ULONG flags,
                                 USBD_STATUS* usbd) {
    auto* urb = allocateZeroed<URB>(sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER));
    if (urb == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    UsbBuildInterruptOrBulkTransferRequest(urb, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER), pipe,
                                           buffer, nullptr, length, flags, nullptr);
    NTSTATUS status = submit(urb);
    length = urb->UrbBulkOrInterruptTransfer.TransferBufferLength;
    if (usbd != nullptr) *usbd = urb->UrbHeader.Status;
    ExFreePoolWithTag(urb, kTag);
    return status;
}

NTSTATUS UsbTestClient::pipeRequest(USHORT function, USBD_PIPE_HANDLE pipe, USBD_STATUS* usbd) {
    _URB_PIPE_REQUEST* urb = newPipeRequest(function, pipe);
    if (urb == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = submit(reinterpret_cast<PURB>(urb));
    if (usbd != nullptr) *usbd = urb->Hdr.Status;
    ExFreePoolWithTag(urb, kTag);
    return status;
}

AsyncPipeRequest::AsyncPipeRequest(PDEVICE_OBJECT pdo, USHORT function, USBD_PIPE_HANDLE pipe)
    : pdo_(pdo) {
    KeInitializeEvent(&done_, NotificationEvent, FALSE);
    irp_ = IoAllocateIrp(static_cast<CCHAR>(pdo->StackSize + 1), FALSE);
    urb_ = newPipeRequest(function, pipe);
}

AsyncPipeRequest::~AsyncPipeRequest() {
    IoFreeIrp(irp_);
    ExFreePoolWithTag(urb_, kTag);
}

NTSTATUS AsyncPipeRequest::send() {
    return sendUrb(pdo_, irp_, urb_, &AsyncPipeRequest::completed, this);
}

NTSTATUS AsyncPipeRequest::completed(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(&static_cast<AsyncPipeRequest*>(context)->done_, 1, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

bool AsyncPipeRequest::wait(unsigned milliseconds) {
    LARGE_INTEGER timeout = relativeMs(milliseconds);
    return KeWaitForSingleObject(&done_, Executive, KernelMode, FALSE, &timeout) == STATUS_SUCCESS;
}

ChunkedRead::ChunkedRead(PDEVICE_OBJECT pdo, USBD_PIPE_HANDLE pipe, std::uint8_t* buffer,
                         std::size_t length, ULONG flags, std::size_t chunkSize)
    : pdo_(pdo) {
    KeInitializeEvent(&allDone_, NotificationEvent, FALSE);
    frameMdl_ = IoAllocateMdl(buffer, static_cast<ULONG>(length), FALSE, FALSE, nullptr);
    MmBuildMdlForNonPagedPool(frameMdl_);
    for (std::size_t offset = 0; offset < length; offset += chunkSize) {
        auto chunk = std::make_unique<Chunk>();
        chunk->owner = this;
        chunk->offset = offset;
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

std::size_t ChunkedRead::post(std::size_t count) {
    if (count == 0) count = chunks_.size();
    for (; posted_ < count; ++posted_) {
        Chunk& chunk = *chunks_[posted_];
        insideCallDriver = true;
        chunk.callStatus = sendUrb(pdo_, chunk.irp, chunk.urb, &ChunkedRead::completed, &chunk);
        insideCallDriver = false;
        if (!NT_SUCCESS(chunk.callStatus)) break;
    }
    return posted_;
}

NTSTATUS ChunkedRead::completed(PDEVICE_OBJECT, PIRP, PVOID context) {
    auto* chunk = static_cast<Chunk*>(context);
    if (insideCallDriver) chunk->completedInsideCall = true;
    chunk->completions.fetch_add(1);
    ChunkedRead* owner = chunk->owner;
    // A waiter that sees the count may go on to destroy the owner, so the total is read first.
    const auto total = static_cast<LONG>(owner->chunks_.size());
    if (owner->done_.fetch_add(1) + 1 >= total) KeSetEvent(&owner->allDone_, 1, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

bool ChunkedRead::waitAll(unsigned milliseconds) {
    LARGE_INTEGER timeout = relativeMs(milliseconds);
    // With every chunk posted the event is the answer: done_ reaches the total before the last
    // completion routine sets the event, and the caller may destroy this object once we return.
    if (posted_ == chunks_.size()) {
        return KeWaitForSingleObject(&allDone_, Executive, KernelMode, FALSE, &timeout) ==
               STATUS_SUCCESS;
    }
    for (;;) {
        if (done_.load() >= static_cast<LONG>(posted_)) return true;
        if (milliseconds-- == 0) return false;
        LARGE_INTEGER tick = relativeMs(1);
        KeDelayExecutionThread(KernelMode, FALSE, &tick);
    }
}

void ChunkedRead::cancelAll() {
    for (std::size_t i = 0; i < posted_; ++i) IoCancelIrp(chunks_[i]->irp);
}

}  // namespace bayercam::host::testing
