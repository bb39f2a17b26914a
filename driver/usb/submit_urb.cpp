// Synchronous requests to the bus driver: URB submission with and without a bound, the port
// status and port reset requests.
#include "driver/device/pool_tags.h"
#include "driver/usb/usb_requests.h"

namespace {

// An internal device control to the lower device, awaited without time-out.
NTSTATUS CallLowerSync(UsbTarget* usb, ULONG controlCode, PVOID argument) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus{};
    PIRP irp = IoBuildDeviceIoControlRequest(controlCode, usb->lowerDevice, nullptr, 0, nullptr, 0,
                                             TRUE, &event, &ioStatus);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = argument;
    NTSTATUS status = IofCallDriver(usb->lowerDevice, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        status = ioStatus.Status;
    }
    return status;
}

// Keeps the request with its sender, who frees it once the wait is over.
NTSTATUS SignalBoundedDone(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

PVOID AllocateUsbBuffer(SIZE_T bytes) {
    return ExAllocatePoolWithTag(NonPagedPool, bytes, POOL_TAG_USB);
}

VOID FreeUsbBuffer(PVOID buffer) {
    if (buffer != nullptr) ExFreePoolWithTag(buffer, POOL_TAG_USB);
}

NTSTATUS SubmitUrbSync(UsbTarget* usb, PURB urb) {
    return CallLowerSync(usb, IOCTL_INTERNAL_USB_SUBMIT_URB, urb);
}

// The request is the sender's own (not the I/O manager's), so it stays valid after the bound
// passes and can be cancelled without racing its completion.
NTSTATUS SubmitUrbBounded(UsbTarget* usb, PURB urb, ULONG timeoutMs) {
    PIRP irp = IoAllocateIrp(usb->lowerDevice->StackSize, FALSE);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = urb;
    IoSetCompletionRoutine(irp, SignalBoundedDone, &done, TRUE, TRUE, TRUE);
    IofCallDriver(usb->lowerDevice, irp);
    LARGE_INTEGER bound;
    bound.QuadPart = -static_cast<LONGLONG>(timeoutMs) * 10000;
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &bound) == STATUS_TIMEOUT) {
        IoCancelIrp(irp);
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
    // A request that completed just as the bound passed keeps its own outcome.
    NTSTATUS status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    return status;
}

NTSTATUS ResetPortIfDisabled(UsbTarget* usb) {
    ULONG portStatus = 0;
    NTSTATUS status = CallLowerSync(usb, IOCTL_INTERNAL_USB_GET_PORT_STATUS, &portStatus);
    if (!NT_SUCCESS(status)) return status;
    if ((portStatus & USBD_PORT_CONNECTED) != 0 && (portStatus & USBD_PORT_ENABLED) == 0) {
        return CallLowerSync(usb, IOCTL_INTERNAL_USB_RESET_PORT, nullptr);
    }
    return status;
}
