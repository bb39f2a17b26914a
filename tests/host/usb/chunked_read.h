// Asynchronous requests to the bus's physical device object, each through its own IRP and URB,
// for tests that act while requests are pending. The completion routines keep the IRP
// (STATUS_MORE_PROCESSING_REQUIRED) and count.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/usb.h"

namespace bayercam::host::testing {

inline constexpr ULONG kInFlags = USBD_SHORT_TRANSFER_OK | USBD_TRANSFER_DIRECTION_IN;
inline constexpr ULONG kOutFlags = USBD_SHORT_TRANSFER_OK;

// A pipe request (abort, reset) sent without waiting. It must have completed before destruction.
class AsyncPipeRequest {
  public:
    AsyncPipeRequest(PDEVICE_OBJECT pdo, USHORT function, USBD_PIPE_HANDLE pipe);
    ~AsyncPipeRequest();

    NTSTATUS send();  // what IofCallDriver returned
    bool wait(unsigned milliseconds);
    NTSTATUS status() const { return irp_->IoStatus.Status; }

  private:
    PDEVICE_OBJECT pdo_;
    PIRP irp_ = nullptr;
    _URB_PIPE_REQUEST* urb_ = nullptr;
    KEVENT done_;
};

// A train of transfers posted at once on one pipe, each over its own partial MDL of the buffer.
class ChunkedRead {
  public:
    struct Chunk {
        PIRP irp = nullptr;
        PMDL mdl = nullptr;
        _URB_BULK_OR_INTERRUPT_TRANSFER* urb = nullptr;
        ChunkedRead* owner = nullptr;
        ULONG length = 0;
        NTSTATUS callStatus = STATUS_SUCCESS;  // what IofCallDriver returned
        std::atomic<int> completions{0};
    };

    ChunkedRead(PDEVICE_OBJECT pdo, USBD_PIPE_HANDLE pipe, std::uint8_t* buffer, std::size_t length,
                ULONG flags = kInFlags, std::size_t chunkSize = 65536);
    ~ChunkedRead();

    // Posts every chunk; stops at the first refused one.
    std::size_t post();
    // Waits for every posted chunk to complete; false on time-out.
    bool waitAll(unsigned milliseconds);
    void cancelAll();

    std::size_t size() const { return chunks_.size(); }
    int completions(std::size_t i) const { return chunks_[i]->completions.load(); }
    NTSTATUS status(std::size_t i) const { return chunks_[i]->irp->IoStatus.Status; }
    USBD_STATUS usbdStatus(std::size_t i) const { return chunks_[i]->urb->Hdr.Status; }
    ULONG moved(std::size_t i) const { return chunks_[i]->urb->TransferBufferLength; }
    ULONG asked(std::size_t i) const { return chunks_[i]->length; }
    NTSTATUS callStatus(std::size_t i) const { return chunks_[i]->callStatus; }

  private:
    static NTSTATUS completed(PDEVICE_OBJECT, PIRP irp, PVOID context);

    PDEVICE_OBJECT pdo_;
    PMDL frameMdl_ = nullptr;
    std::vector<std::unique_ptr<Chunk>> chunks_;
    std::size_t posted_ = 0;
    std::atomic<LONG> done_{0};
};

}  // namespace bayercam::host::testing
