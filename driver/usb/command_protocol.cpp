// The packet transfer primitive and the send, reply and query exchanges built on it.
#include "driver/usb/command_protocol.h"

#include "driver/usb/usb_requests.h"

volatile LONG commandTimeoutMs = 1000;

NTSTATUS TransferPacket(CameraDevice* device, ULONG pipe, PUCHAR packet, ULONG* transferred) {
    *transferred = 0;
    UsbTarget* usb = &device->usb;
    if (usb->interfaceInfo == nullptr) return STATUS_UNSUCCESSFUL;
    PUSBD_PIPE_INFORMATION info = PipeOf(usb, pipe);
    if (info == nullptr) return STATUS_INVALID_PARAMETER;
    if (info->PipeType != UsbdPipeTypeBulk && info->PipeType != UsbdPipeTypeInterrupt) {
        return STATUS_INVALID_PARAMETER;
    }
    if (info->PipeHandle == nullptr) return STATUS_UNSUCCESSFUL;
    if (info->MaximumTransferSize < COMMAND_PACKET_SIZE) return STATUS_INVALID_PARAMETER;
    if (!PipeDirectionIs(info, pipe == REPLY_PIPE)) return STATUS_INVALID_PARAMETER;

    PURB urb = static_cast<PURB>(AllocateUsbBuffer(sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER)));
    if (urb == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    _URB_BULK_OR_INTERRUPT_TRANSFER& transfer = urb->UrbBulkOrInterruptTransfer;
    transfer.Hdr.Length = sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER);
    transfer.Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    transfer.PipeHandle = info->PipeHandle;
    transfer.TransferFlags = TransferFlagsOf(info);
    transfer.TransferBufferLength = COMMAND_PACKET_SIZE;
    transfer.TransferBuffer = packet;
    transfer.TransferBufferMDL = nullptr;
    transfer.UrbLink = nullptr;

    ULONG bound = static_cast<ULONG>(InterlockedCompareExchange(&commandTimeoutMs, 0, 0));
    NTSTATUS status = SubmitUrbBounded(usb, urb, bound);
    if (NT_SUCCESS(status)) {
        if (USBD_ERROR(transfer.Hdr.Status)) {
            status = STATUS_UNSUCCESSFUL;
        } else {
            *transferred = transfer.TransferBufferLength;
        }
    }
    FreeUsbBuffer(urb);
    return status;
}

bool SendCommand(CameraDevice* device, ULONG length, PUCHAR packet) {
    if (packet == nullptr) return false;
    ULONG transferred = 0;
    NTSTATUS status = TransferPacket(device, COMMAND_PIPE, packet, &transferred);
    return NT_SUCCESS(status) && transferred == length;
}

bool ReadReply(CameraDevice* device, PUCHAR packet) {
    if (packet == nullptr) return false;
    ULONG transferred = 0;
    NTSTATUS status = TransferPacket(device, REPLY_PIPE, packet, &transferred);
    return NT_SUCCESS(status) && transferred == COMMAND_PACKET_SIZE;
}

PUCHAR StartCommandPacket(CameraDevice* device, CommandCode code) {
    RtlZeroMemory(device->commandPacket, COMMAND_PACKET_SIZE);
    device->commandPacket[0] = static_cast<UCHAR>(code);
    return device->commandPacket;
}

bool RunQuery(CameraDevice* device, UCHAR* answer) {
    PUCHAR packet = device->commandPacket;
    if (!SendCommand(device, COMMAND_PACKET_SIZE, packet) || !ReadReply(device, packet) ||
        !ReadReply(device, packet)) {
        return false;
    }
    *answer = packet[0];
    return true;
}
