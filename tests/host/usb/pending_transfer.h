// One transfer or pipe request sent to the bus's physical device object through its own IRP
// without waiting, for tests that act while it is pending. The completion routine keeps the
// IRP (STATUS_MORE_PROCESSING_REQUIRED) and signals. It must have completed before destruction.
#pragma once

#include <cstdint>

#include "platform/usb.h"

namespace bayercam::host::testing {

class PendingTransfer {
  public:
    // A bulk transfer of the buffer on the pipe, in or out by the direction flag.
    PendingTransfer(PDEVICE_OBJECT pdo, USBD_PIPE_HANDLE pipe, std::uint8_t* buffer, ULONG length,
                    bool in);
    // A pipe request (abort, reset).
    PendingTransfer(PDEVICE_OBJECT pdo, USHORT function, USBD_PIPE_HANDLE pipe);
    ~PendingTransfer() { IoFreeIrp(irp_); }

    NTSTATUS send();  // what IofCallDriver returned
    bool wait(unsigned milliseconds);
    bool done() { return wait(0); }
    void cancel() { IoCancelIrp(irp_); }
    NTSTATUS status() const { return irp_->IoStatus.Status; }
    ULONG moved() const { return urb_.UrbBulkOrInterruptTransfer.TransferBufferLength; }

  private:
    PDEVICE_OBJECT pdo_;
    PIRP irp_;
    URB urb_{};
    KEVENT done_;
};

}  // namespace bayercam::host::testing
