// A small USB client driver of the tests' own: builds URBs against platform/usb.h and sends them
// down to the bus's physical device object with IofCallDriver, as a camera driver would.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/usb.h"

namespace bayercam::host::testing {

// The synchronous requests: each builds an internal device control IRP and waits for it.
class UsbTestClient {
  public:
    explicit UsbTestClient(PDEVICE_OBJECT pdo) : pdo_(pdo) {}
    ~UsbTestClient();

    NTSTATUS submit(PURB urb);
    NTSTATUS portStatus(ULONG& status);
    NTSTATUS resetPort();

    // Reads a descriptor into buffer; length in: the buffer size, out: the bytes moved.
    NTSTATUS getDescriptor(UCHAR type, void* buffer, ULONG& length, USBD_STATUS* usbd = nullptr);
    // Reads the whole configuration, selects it with every interface found (the first interface's
    // pipes with the given maximum transfer size) and keeps a copy of each interface's information.
    NTSTATUS configure(ULONG maximumTransferSize = 0xFFFFFFFF);
    NTSTATUS deconfigure();
    const std::vector<std::uint8_t>& configuration() const { return configuration_; }
    const USBD_INTERFACE_INFORMATION* interface(std::size_t index) const;
    std::size_t interfaceCount() const { return interfaces_.size(); }
    USBD_PIPE_HANDLE pipe(unsigned index) const;

    // A 64-byte-style bulk transfer; length in: bytes asked for, out: bytes moved.
    NTSTATUS transfer(USBD_PIPE_HANDLE pipe, void* buffer, ULONG& length, ULONG flags,
                      USBD_STATUS* usbd = nullptr);
    NTSTATUS pipeRequest(USHORT function, USBD_PIPE_HANDLE pipe, USBD_STATUS* usbd = nullptr);

  private:
    PDEVICE_OBJECT pdo_;
    std::vector<std::uint8_t> configuration_;
    std::vector<std::vector<std::uint8_t>> interfaces_;
};

// A train of reads posted at once on an IN pipe, each through its own IRP, partial MDL and URB;
// the completion routine keeps the IRP (STATUS_MORE_PROCESSING_REQUIRED) and counts.
class ChunkedRead {
  public:
    struct Chunk {
        PIRP irp = nullptr;
        PMDL mdl = nullptr;
        _URB_BULK_OR_INTERRUPT_TRANSFER* urb = nullptr;
        ChunkedRead* owner = nullptr;
        std::size_t offset = 0;
        ULONG length = 0;
        NTSTATUS callStatus = STATUS_SUCCESS;  // what IofCallDriver returned
        std::atomic<int> completions{0};
        std::atomic<bool> completedInsideCall{false};  // completed before IofCallDriver returned
    };

    ChunkedRead(PDEVICE_OBJECT pdo, USBD_PIPE_HANDLE pipe, std::uint8_t* buffer, std::size_t length,
                ULONG flags = USBD_SHORT_TRANSFER_OK | USBD_TRANSFER_DIRECTION_IN,
                std::size_t chunkSize = 65536);
    ~ChunkedRead();

    // Posts the first `count` chunks (all when 0); stops at the first refused one.
    std::size_t post(std::size_t count = 0);
    // Waits for every posted chunk to complete; false on time-out.
    bool waitAll(unsigned milliseconds);
    void cancelAll();

    std::size_t posted() const { return posted_; }
    std::vector<std::unique_ptr<Chunk>>& chunks() { return chunks_; }
    NTSTATUS status(std::size_t i) const { return chunks_[i]->irp->IoStatus.Status; }
    USBD_STATUS usbdStatus(std::size_t i) const { return chunks_[i]->urb->Hdr.Status; }
    ULONG moved(std::size_t i) const { return chunks_[i]->urb->TransferBufferLength; }

  private:
    static NTSTATUS completed(PDEVICE_OBJECT, PIRP irp, PVOID context);

    PDEVICE_OBJECT pdo_;
    PMDL frameMdl_ = nullptr;
    std::vector<std::unique_ptr<Chunk>> chunks_;
    std::size_t posted_ = 0;
    std::atomic<LONG> done_{0};
    KEVENT allDone_;
};

}  // namespace bayercam::host::testing
