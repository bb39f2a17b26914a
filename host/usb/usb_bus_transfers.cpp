// Bulk and interrupt transfers of the USB bus stand-in: per-pipe queues, cancel, abort, pipe
// reset, and the bus thread's attempts to move data.
//
// Ownership of a queued request: while its cancel routine is set, the canceller may take it; the
// bus takes it by clearing the cancel routine (IoSetCancelRoutine returning non-null). A request
// whose routine is already gone is being cancelled and is left in the queue for the cancel routine
// to remove.
#include <algorithm>
#include <atomic>

#include "host/usb/usb_bus.h"

namespace bayercam::host {
namespace {

// The canceller sets the flag without our lock.
bool cancelRequested(PIRP irp) noexcept {
    return std::atomic_ref<BOOLEAN>(irp->Cancel).load() != 0;
}

bool isInPipe(const USBD_PIPE_INFORMATION& info) noexcept {
    return USB_ENDPOINT_DIRECTION_IN(info.EndpointAddress) != 0;
}

}  // namespace

UsbBus::Pipe* UsbBus::findPipe(USBD_PIPE_HANDLE handle) {
    for (auto& pipe : pipes_) {
        if (pipe.get() == handle) return pipe.get();
    }
    return nullptr;
}

NTSTATUS UsbBus::queueTransfer(PIRP irp, _URB_BULK_OR_INTERRUPT_TRANSFER& request) noexcept {
    std::uint8_t* buffer = urbTransferBuffer(request.TransferBufferMDL, request.TransferBuffer);
    std::unique_lock lock(lock_);
    Pipe* pipe = findPipe(request.PipeHandle);
    USBD_STATUS refusal = USBD_STATUS_SUCCESS;
    if (pipe == nullptr) {
        refusal = USBD_STATUS_INVALID_PIPE_HANDLE;
    } else if ((buffer == nullptr && request.TransferBufferLength != 0) ||
               request.TransferBufferLength > pipe->info.MaximumTransferSize) {
        refusal = USBD_STATUS_INVALID_PARAMETER;
    }
    if (refusal != USBD_STATUS_SUCCESS) {
        lock.unlock();
        request.Hdr.Status = refusal;
        complete(irp, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
    IoMarkIrpPending(irp);
    request.Hdr.Status = USBD_STATUS_PENDING;
    pipe->queue.push_back(
        Transfer{irp, &request, buffer, request.TransferBufferLength, pipe->queued++});
    IoSetCancelRoutine(irp, &UsbBus::cancelTransfer);
    if (cancelRequested(irp) && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        std::vector<Completion> done;
        eraseLocked(*pipe, std::prev(pipe->queue.end()),
                    Completion{irp, reinterpret_cast<PURB>(&request), STATUS_CANCELLED,
                               USBD_STATUS_CANCELED, 0},
                    done);
        lock.unlock();
        completeRequests(done);
        return STATUS_PENDING;
    }
    workSignalled_ = true;
    lock.unlock();
    changed_.notify_all();
    return STATUS_PENDING;
}

// Runs with the cancel spin lock held, at dispatch level.
VOID UsbBus::cancelTransfer(PDEVICE_OBJECT device, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    auto* bus = static_cast<UsbBus*>(fromDevice(device));
    std::unique_lock lock(bus->lock_);
    for (auto& pipe : bus->pipes_) {
        auto& queue = pipe->queue;
        auto found = std::find_if(queue.begin(), queue.end(),
                                  [irp](const Transfer& t) { return t.irp == irp; });
        if (found == queue.end()) continue;
        std::vector<Completion> done;
        bus->eraseLocked(*pipe, found,
                         Completion{irp, reinterpret_cast<PURB>(found->urb), STATUS_CANCELLED,
                                    USBD_STATUS_CANCELED, found->moved},
                         done);
        lock.unlock();
        bus->completeRequests(done);
        bus->changed_.notify_all();
        return;
    }
}

// Completes every transfer of the pipe that the bus can take; one the bus thread is working on
// is marked and finished by that thread.
void UsbBus::abortLocked(Pipe& pipe, NTSTATUS status, USBD_STATUS usbdStatus,
                         std::vector<Completion>& done) {
    for (auto it = pipe.queue.begin(); it != pipe.queue.end();) {
        if (it->claimed) {
            it->aborted = true;
            ++it;
        } else if (IoSetCancelRoutine(it->irp, nullptr) != nullptr) {
            it = eraseLocked(
                pipe, it,
                Completion{it->irp, reinterpret_cast<PURB>(it->urb), status, usbdStatus, it->moved},
                done);
        } else {
            ++it;
        }
    }
}

void UsbBus::abortAllLocked(NTSTATUS status, USBD_STATUS usbdStatus,
                            std::vector<Completion>& done) {
    for (auto& pipe : pipes_) abortLocked(*pipe, status, usbdStatus, done);
}

// Takes a transfer out of its queue to be completed; it still counts as the pipe's until its
// completion has returned (transferFinished), so that an abort never completes before it.
std::deque<UsbBus::Transfer>::iterator UsbBus::eraseLocked(Pipe& pipe,
                                                           std::deque<Transfer>::iterator at,
                                                           Completion completion,
                                                           std::vector<Completion>& done) {
    completion.pipe = &pipe;
    completion.sequence = at->sequence;
    done.push_back(completion);
    pipe.completing.insert(at->sequence);
    return pipe.queue.erase(at);
}

// Completes the aborts that waited for nothing newer than the pipe's oldest transfer left.
void UsbBus::transferFinished(Pipe& pipe, std::uint64_t sequence) noexcept {
    std::vector<Completion> aborts;
    {
        std::lock_guard guard(lock_);
        pipe.completing.erase(pipe.completing.find(sequence));
        const std::uint64_t oldest = pipe.oldest();
        auto due = std::find_if(pipe.aborts.begin(), pipe.aborts.end(),
                                [oldest](const PendingAbort& a) { return a.before > oldest; });
        for (auto it = pipe.aborts.begin(); it != due; ++it) aborts.push_back(it->completion);
        pipe.aborts.erase(pipe.aborts.begin(), due);
    }
    changed_.notify_all();
    completeRequests(aborts);
}

// Waits until no pipe holds a transfer; passive level only.
void UsbBus::waitUntilDrained(std::unique_lock<std::mutex>& lock) {
    changed_.wait(lock, [&] {
        return std::all_of(pipes_.begin(), pipes_.end(),
                           [](const auto& p) { return p->queue.empty() && p->completing.empty(); });
    });
}

// Completes once every transfer the pipe held when the abort came has completed, as the platform
// does: at once when none is left, else pending until the last of them completes. Transfers
// queued meanwhile are not waited for. Callable at dispatch level.
NTSTATUS UsbBus::abortPipe(PIRP irp, _URB_PIPE_REQUEST& request) noexcept {
    std::vector<Completion> done;
    std::unique_lock lock(lock_);
    Pipe* pipe = findPipe(request.PipeHandle);
    if (pipe == nullptr) {
        lock.unlock();
        request.Hdr.Status = USBD_STATUS_INVALID_PIPE_HANDLE;
        complete(irp, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
    abortLocked(*pipe, STATUS_CANCELLED, USBD_STATUS_CANCELED, done);
    Completion self{irp, reinterpret_cast<PURB>(&request), STATUS_SUCCESS, USBD_STATUS_SUCCESS, 0};
    bool pending = pipe->oldest() != pipe->queued;
    if (pending) {
        IoMarkIrpPending(irp);
        request.Hdr.Status = USBD_STATUS_PENDING;
        pipe->aborts.push_back(PendingAbort{self, pipe->queued});
    } else {
        done.push_back(self);
    }
    lock.unlock();
    completeRequests(done);
    return pending ? STATUS_PENDING : STATUS_SUCCESS;
}

NTSTATUS UsbBus::resetPipe(PIRP irp, _URB_PIPE_REQUEST& request) noexcept {
    std::uint8_t endpoint = 0;
    {
        std::lock_guard guard(lock_);
        Pipe* pipe = findPipe(request.PipeHandle);
        if (pipe != nullptr) endpoint = pipe->info.EndpointAddress;
    }
    if (endpoint == 0) {
        request.Hdr.Status = USBD_STATUS_INVALID_PIPE_HANDLE;
        complete(irp, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
    function_.clearHalt(endpoint);
    functionChanged();
    request.Hdr.Status = USBD_STATUS_SUCCESS;
    complete(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

void UsbBus::failWhilePortDown() {
    UsbPortState port = function_.portState();
    if (port.connected && port.enabled) return;
    std::vector<Completion> done;
    {
        std::lock_guard guard(lock_);
        if (port.connected) {
            abortAllLocked(STATUS_UNSUCCESSFUL, USBD_STATUS_DEV_NOT_RESPONDING, done);
        } else {
            abortAllLocked(STATUS_DEVICE_NOT_CONNECTED, USBD_STATUS_DEVICE_GONE, done);
        }
    }
    completeRequests(done);
}

// One attempt on the pipe's leading transfer, by the bus thread. The lock is released around the
// call into the function. True when a transfer moved data or ended.
bool UsbBus::serviceHead(std::unique_lock<std::mutex>& lock, Pipe& pipe,
                         UsbClock::time_point& wakeAt) {
    auto head = std::find_if(pipe.queue.begin(), pipe.queue.end(), [](const Transfer& t) {
        return IoSetCancelRoutine(t.irp, nullptr) != nullptr;
    });
    if (head == pipe.queue.end()) return false;
    head->claimed = true;
    const Transfer transfer = *head;
    lock.unlock();
    UsbDataResult result = attempt(pipe.info, transfer);
    lock.lock();
    auto it = std::find_if(pipe.queue.begin(), pipe.queue.end(),
                           [&](const Transfer& t) { return t.irp == transfer.irp; });
    it->claimed = false;
    Completion completion{};
    bool ended = finishAttempt(pipe, *it, result, completion);
    if (!ended) {
        IoSetCancelRoutine(transfer.irp, &UsbBus::cancelTransfer);
        if (cancelRequested(transfer.irp) && IoSetCancelRoutine(transfer.irp, nullptr) != nullptr) {
            completion = Completion{transfer.irp, reinterpret_cast<PURB>(transfer.urb),
                                    STATUS_CANCELLED, USBD_STATUS_CANCELED, it->moved};
            ended = true;
        } else if (result.handshake == UsbHandshake::Nak) {
            wakeAt = std::min(wakeAt, result.retryAt);
        }
    }
    if (ended) {
        std::vector<Completion> done;
        eraseLocked(pipe, it, completion, done);
        lock.unlock();
        completeRequests(done);
        lock.lock();
    }
    changed_.notify_all();
    return ended || result.bytes > 0;
}

UsbDataResult UsbBus::attempt(const USBD_PIPE_INFORMATION& info, const Transfer& transfer) {
    std::size_t remaining = transfer.length - transfer.moved;
    if (isInPipe(info)) {
        return function_.dataIn(info.EndpointAddress,
                                std::span(transfer.buffer + transfer.moved, remaining));
    }
    return function_.dataOut(
        info.EndpointAddress,
        std::span<const std::uint8_t>(transfer.buffer + transfer.moved, remaining));
}

// Applies one attempt's outcome; true when the transfer is finished, with its completion filled.
bool UsbBus::finishAttempt(Pipe& pipe, Transfer& transfer, const UsbDataResult& result,
                           Completion& completion) {
    transfer.moved += std::min(result.bytes, transfer.length - transfer.moved);
    completion = Completion{transfer.irp, reinterpret_cast<PURB>(transfer.urb), STATUS_SUCCESS,
                            USBD_STATUS_SUCCESS, transfer.moved};
    switch (result.handshake) {
        case UsbHandshake::Stall:
            completion.status = STATUS_UNSUCCESSFUL;
            completion.usbdStatus = USBD_STATUS_STALL_PID;
            return true;
        case UsbHandshake::Error:
            completion.status = STATUS_UNSUCCESSFUL;
            completion.usbdStatus = USBD_STATUS_CRC;
            return true;
        default:
            break;
    }
    if (transfer.aborted) {
        completion.status = STATUS_CANCELLED;
        completion.usbdStatus = USBD_STATUS_CANCELED;
        return true;
    }
    if (transfer.moved == transfer.length) return true;
    if (result.handshake != UsbHandshake::Ack || !result.shortPacket || !isInPipe(pipe.info)) {
        return false;
    }
    if ((transfer.urb->TransferFlags & USBD_SHORT_TRANSFER_OK) == 0) {
        completion.status = STATUS_UNSUCCESSFUL;
        completion.usbdStatus = USBD_STATUS_ERROR_SHORT_TRANSFER;
    }
    return true;
}

// Completes at dispatch level, as a host controller's completion does.
void UsbBus::completeRequests(const std::vector<Completion>& done) noexcept {
    for (const Completion& c : done) {
        c.urb->UrbHeader.Status = c.usbdStatus;
        if (c.urb->UrbHeader.Function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER) {
            c.urb->UrbBulkOrInterruptTransfer.TransferBufferLength = static_cast<ULONG>(c.moved);
        }
        KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
        complete(c.irp, c.status, 0);
        KeLowerIrql(old);
        if (c.pipe != nullptr) transferFinished(*c.pipe, c.sequence);
    }
}

}  // namespace bayercam::host
