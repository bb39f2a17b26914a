// USB requests to the bus driver below the camera: synchronous URB submission, configuration
// and deconfiguration, port recovery, and the two operations that stop traffic.
#pragma once

#include "driver/device/camera_device.h"

// Passive level; waits without time-out for the bus driver.
NTSTATUS SubmitUrbSync(UsbTarget* usb, PURB urb);
// Passive level; waits at most timeoutMs, then cancels the request and awaits its completion.
NTSTATUS SubmitUrbBounded(UsbTarget* usb, PURB urb, ULONG timeoutMs);

NTSTATUS ConfigureDevice(UsbTarget* usb);
// Releases the configuration descriptor, the pipe table and the pipe marks.
VOID ReleaseConfiguration(UsbTarget* usb);
VOID DeconfigureDevice(UsbTarget* usb);
NTSTATUS ResetPortIfDisabled(UsbTarget* usb);

// CameraOps slots 6 and 7.
VOID AbortPipes(CameraDevice* device);
VOID CancelTransfers(CameraDevice* device);

// Cancels the running read's chunks that have not completed, under transferLock; returns how
// many were cancelled. Any IRQL up to dispatch level.
ULONG CancelPendingChunks(UsbTarget* usb);

// Pipe marks: a marked pipe is aborted by AbortPipes. Any IRQL up to dispatch level.
VOID MarkPipe(UsbTarget* usb, ULONG pipe, UCHAR mark);

// URBs and descriptor buffers (tag "Qvbz"); null when the pool is exhausted.
PVOID AllocateUsbBuffer(SIZE_T bytes);
VOID FreeUsbBuffer(PVOID buffer);

// The pipe of the configured interface, or null when there is no such pipe.
PUSBD_PIPE_INFORMATION PipeOf(UsbTarget* usb, ULONG index);

// True when the pipe's endpoint moves data toward the host (in) or toward the camera (out).
// Commands go out on pipe 0, replies and frames come in on pipes 1 and 2; a configuration whose
// endpoints point the other way would turn each command into a read that waits for its bound.
inline bool PipeDirectionIs(const USBD_PIPE_INFORMATION* pipe, bool in) {
    return (USB_ENDPOINT_DIRECTION_IN(pipe->EndpointAddress) != 0) == in;
}

// Transfer flags of a bulk or interrupt transfer on the pipe.
inline ULONG TransferFlagsOf(const USBD_PIPE_INFORMATION* pipe) {
    ULONG flags = USBD_SHORT_TRANSFER_OK;
    if (USB_ENDPOINT_DIRECTION_IN(pipe->EndpointAddress)) flags |= USBD_TRANSFER_DIRECTION_IN;
    return flags;
}
