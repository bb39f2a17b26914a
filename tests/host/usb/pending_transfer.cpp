#include "tests/host/usb/pending_transfer.h"

namespace bayercam::host::testing {
namespace {

NTSTATUS signalDone(PDEVICE_OBJECT, PIRP, PVOID event) {
    KeSetEvent(static_cast<PKEVENT>(event), 1, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

PendingTransfer::PendingTransfer(PDEVICE_OBJECT pdo, USBD_PIPE_HANDLE pipe, std::uint8_t* buffer,
                                 ULONG length, bool in)
    : PendingTransfer(pdo, URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER, pipe) {
    UsbBuildInterruptOrBulkTransferRequest(
        &urb_, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER), pipe, buffer, nullptr, length,
        USBD_SHORT_TRANSFER_OK | (in ? USBD_TRANSFER_DIRECTION_IN : 0), nullptr);
}

PendingTransfer::PendingTransfer(PDEVICE_OBJECT pdo, USHORT function, USBD_PIPE_HANDLE pipe)
    : pdo_(pdo), irp_(IoAllocateIrp(static_cast<CCHAR>(pdo->StackSize + 1), FALSE)) {
    KeInitializeEvent(&done_, NotificationEvent, FALSE);
    urb_.UrbPipeRequest.Hdr.Length = sizeof(_URB_PIPE_REQUEST);
    urb_.UrbPipeRequest.Hdr.Function = function;
    urb_.UrbPipeRequest.PipeHandle = pipe;
}

NTSTATUS PendingTransfer::send() {
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp_);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = &urb_;
    IoSetCompletionRoutine(irp_, signalDone, &done_, TRUE, TRUE, TRUE);
    return IofCallDriver(pdo_, irp_);
}

bool PendingTransfer::wait(unsigned milliseconds) {
    LARGE_INTEGER timeout{.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000};
    return KeWaitForSingleObject(&done_, Executive, KernelMode, FALSE, &timeout) == STATUS_SUCCESS;
}

}  // namespace bayercam::host::testing
