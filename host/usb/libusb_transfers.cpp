// Bulk and interrupt transfers over libusb: submission straight from the request's memory,
// cancel, abort, pipe reset, and completion from the event thread.
//
// A transfer is the bus's from submission until its libusb callback has run: the callback alone
// completes the request. The cancel routine and an abort only ask libusb to cancel; lock_ keeps
// a transfer from being looked up by one while the callback takes it away.
#include <libusb.h>

#include <algorithm>

#include "host/usb/libusb_bus.h"

namespace bayercam::host {
namespace {

struct Outcome {
    NTSTATUS status;
    USBD_STATUS usbd;
};

Outcome outcomeOf(const libusb_transfer& t, ULONG flags) {
    switch (t.status) {
        case LIBUSB_TRANSFER_COMPLETED:
            if (t.actual_length < t.length && (t.endpoint & LIBUSB_ENDPOINT_IN) != 0 &&
                (flags & USBD_SHORT_TRANSFER_OK) == 0) {
                return {STATUS_UNSUCCESSFUL, USBD_STATUS_ERROR_SHORT_TRANSFER};
            }
            return {STATUS_SUCCESS, USBD_STATUS_SUCCESS};
        case LIBUSB_TRANSFER_CANCELLED:
            return {STATUS_CANCELLED, USBD_STATUS_CANCELED};
        case LIBUSB_TRANSFER_STALL:
            return {STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID};
        case LIBUSB_TRANSFER_NO_DEVICE:
            return {STATUS_DEVICE_NOT_CONNECTED, USBD_STATUS_DEVICE_GONE};
        case LIBUSB_TRANSFER_TIMED_OUT:
            return {STATUS_UNSUCCESSFUL, USBD_STATUS_TIMEOUT};
        case LIBUSB_TRANSFER_OVERFLOW:
            return {STATUS_UNSUCCESSFUL, USBD_STATUS_BABBLE_DETECTED};
        default:
            return {STATUS_UNSUCCESSFUL, USBD_STATUS_CRC};
    }
}

}  // namespace

std::size_t LibusbBus::transfersInFlight() const {
    std::lock_guard guard(lock_);
    std::size_t count = 0;
    for (const auto& pipe : pipes_) count += pipe->inFlight.size();
    return count;
}

LibusbBus::Pipe* LibusbBus::pipeLocked(USBD_PIPE_HANDLE handle) noexcept {
    for (const auto& pipe : pipes_) {
        if (pipe.get() == handle) return pipe.get();
    }
    return nullptr;
}

NTSTATUS LibusbBus::queueTransfer(PIRP irp, _URB_BULK_OR_INTERRUPT_TRANSFER& request) noexcept {
    std::uint8_t* buffer = urbTransferBuffer(request.TransferBufferMDL, request.TransferBuffer);
    std::unique_lock lock(lock_);
    Pipe* found = pipeLocked(request.PipeHandle);
    if (found == nullptr) {
        lock.unlock();
        return refuse(irp, request.Hdr, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PIPE_HANDLE);
    }
    Pipe& pipe = *found;
    if ((buffer == nullptr && request.TransferBufferLength != 0) ||
        request.TransferBufferLength > pipe.info.MaximumTransferSize ||
        request.TransferBufferLength > 0x7FFFFFFF) {
        lock.unlock();
        return refuse(irp, request.Hdr, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    libusb_transfer* usb = libusb_alloc_transfer(0);
    if (usb == nullptr) {
        lock.unlock();
        return refuse(irp, request.Hdr, STATUS_INSUFFICIENT_RESOURCES,
                      USBD_STATUS_INSUFFICIENT_RESOURCES);
    }
    auto owned = std::make_unique<Transfer>(Transfer{this, &pipe, irp, &request, usb, pipe.queued});
    Transfer* transfer = owned.get();
    const bool interrupt = pipe.info.PipeType == UsbdPipeTypeInterrupt;
    (interrupt ? libusb_fill_interrupt_transfer : libusb_fill_bulk_transfer)(
        usb, handle_, pipe.info.EndpointAddress, buffer,
        static_cast<int>(request.TransferBufferLength), &LibusbBus::transferDone, transfer, 0);
    IoMarkIrpPending(irp);
    request.Hdr.Status = USBD_STATUS_PENDING;
    const int submitted = watch(libusb_submit_transfer(usb));
    if (submitted != 0) {
        lock.unlock();
        libusb_free_transfer(usb);
        const bool gone = submitted == LIBUSB_ERROR_NO_DEVICE;
        refuse(irp, request.Hdr, gone ? STATUS_DEVICE_NOT_CONNECTED : STATUS_UNSUCCESSFUL,
               gone ? USBD_STATUS_DEVICE_GONE : USBD_STATUS_STALL_PID);
        return STATUS_PENDING;
    }
    pipe.inFlight.emplace(pipe.queued++, std::move(owned));
    IoSetCancelRoutine(irp, &LibusbBus::cancelTransfer);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) libusb_cancel_transfer(usb);
    return STATUS_PENDING;
}

// Runs with the cancel spin lock held, at dispatch level.
VOID LibusbBus::cancelTransfer(PDEVICE_OBJECT device, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    auto* bus = static_cast<LibusbBus*>(fromDevice(device));
    std::lock_guard guard(bus->lock_);
    for (auto& pipe : bus->pipes_) {
        for (auto& [sequence, transfer] : pipe->inFlight) {
            if (transfer->irp == irp) {
                libusb_cancel_transfer(transfer->transfer);
                return;
            }
        }
    }
}

// libusb's callback, on the event thread.
void LibusbBus::transferDone(libusb_transfer* usb) {
    auto* transfer = static_cast<Transfer*>(usb->user_data);
    transfer->bus->finishTransfer(*transfer);
}

// Completes the request at dispatch level, as a host controller's completion does, then any
// abort that waited for it.
void LibusbBus::finishTransfer(Transfer& transfer) noexcept {
    std::unique_ptr<Transfer> owned;
    std::vector<PendingAbort> due;
    {
        std::lock_guard guard(lock_);
        Pipe& pipe = *transfer.pipe;
        auto at = pipe.inFlight.find(transfer.sequence);
        owned = std::move(at->second);
        pipe.inFlight.erase(at);
        IoSetCancelRoutine(transfer.irp, nullptr);
        const std::uint64_t oldest = pipe.oldest();
        auto end = std::find_if(pipe.aborts.begin(), pipe.aborts.end(),
                                [oldest](const PendingAbort& a) { return a.before > oldest; });
        due.assign(pipe.aborts.begin(), end);
        pipe.aborts.erase(pipe.aborts.begin(), end);
    }
    libusb_transfer* usb = owned->transfer;
    if (usb->status == LIBUSB_TRANSFER_NO_DEVICE) gone_ = true;
    const Outcome outcome = outcomeOf(*usb, owned->urb->TransferFlags);
    owned->urb->Hdr.Status = outcome.usbd;
    owned->urb->TransferBufferLength = static_cast<ULONG>(usb->actual_length);
    libusb_free_transfer(usb);
    KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    complete(owned->irp, outcome.status, 0);
    for (const PendingAbort& abort : due) {
        abort.urb->Hdr.Status = USBD_STATUS_SUCCESS;
        complete(abort.irp, STATUS_SUCCESS, 0);
    }
    KeLowerIrql(old);
    drained_.notify_all();
}

// Completes once every transfer the pipe held when the abort came has completed; transfers
// queued meanwhile are not waited for. Callable at dispatch level.
NTSTATUS LibusbBus::abortPipe(PIRP irp, _URB_PIPE_REQUEST& request) noexcept {
    std::unique_lock lock(lock_);
    Pipe* found = pipeLocked(request.PipeHandle);
    if (found == nullptr) {
        lock.unlock();
        return refuse(irp, request.Hdr, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PIPE_HANDLE);
    }
    Pipe& pipe = *found;
    if (pipe.inFlight.empty()) {
        lock.unlock();
        request.Hdr.Status = USBD_STATUS_SUCCESS;
        complete(irp, STATUS_SUCCESS, 0);
        return STATUS_SUCCESS;
    }
    IoMarkIrpPending(irp);
    request.Hdr.Status = USBD_STATUS_PENDING;
    pipe.aborts.push_back(PendingAbort{irp, &request, pipe.queued});
    for (auto& [sequence, transfer] : pipe.inFlight) libusb_cancel_transfer(transfer->transfer);
    return STATUS_PENDING;
}

// Passive level: clearing the halt is a control request to the device.
NTSTATUS LibusbBus::resetPipe(PIRP irp, _URB_PIPE_REQUEST& request) noexcept {
    std::uint8_t endpoint = 0;
    {
        std::lock_guard guard(lock_);
        if (const Pipe* pipe = pipeLocked(request.PipeHandle)) endpoint = pipe->info.EndpointAddress;
    }
    if (endpoint == 0) {
        return refuse(irp, request.Hdr, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PIPE_HANDLE);
    }
    const int result = watch(libusb_clear_halt(handle_, endpoint));
    if (result != 0) {
        const bool gone = result == LIBUSB_ERROR_NO_DEVICE;
        return refuse(irp, request.Hdr, gone ? STATUS_DEVICE_NOT_CONNECTED : STATUS_UNSUCCESSFUL,
                      gone ? USBD_STATUS_DEVICE_GONE : USBD_STATUS_STALL_PID);
    }
    request.Hdr.Status = USBD_STATUS_SUCCESS;
    complete(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

void LibusbBus::cancelAllAndWait() {
    std::unique_lock lock(lock_);
    for (auto& pipe : pipes_) {
        for (auto& [sequence, transfer] : pipe->inFlight) {
            libusb_cancel_transfer(transfer->transfer);
        }
    }
    drained_.wait(lock, [this] {
        return std::all_of(pipes_.begin(), pipes_.end(),
                           [](const auto& p) { return p->inFlight.empty(); });
    });
}

}  // namespace bayercam::host
