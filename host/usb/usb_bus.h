// The USB bus stand-in: one physical device object per function, answering the internal device
// controls a USB client driver sends (URBs, port status, port reset). Data transfers are queued
// per pipe and completed from the bus's own thread at dispatch level, never inside IofCallDriver.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/usb/bus_device.h"
#include "host/usb/usb_function.h"
#include "platform/usb.h"

namespace bayercam::host {

class UsbBus final : public BusDevice, private UsbFunctionEvents {
  public:
    // Creates the physical device object for the function and starts the bus thread.
    // Throws std::runtime_error when the device object cannot be created.
    explicit UsbBus(UsbFunction& function);
    ~UsbBus() override;

    // Transfers queued on all pipes and not yet completed.
    std::size_t pendingTransfers() const;

    std::vector<std::uint8_t> deviceDescriptor() const override;
    std::vector<std::uint8_t> configurationDescriptor() const override;
    std::uint8_t configurationValue() const override;
    bool present() const override { return function_.portState().connected; }

  private:
    struct Transfer {
        PIRP irp;
        _URB_BULK_OR_INTERRUPT_TRANSFER* urb;
        std::uint8_t* buffer;
        std::size_t length;
        std::uint64_t sequence;  // the pipe's count of transfers queued before this one
        std::size_t moved = 0;
        bool claimed = false;  // the bus thread is moving data for it, outside the lock
        bool aborted = false;  // abort or deconfigure asked for it while claimed
    };
    struct Pipe;
    // A request to complete once no lock is held; moved is a transfer's byte count, pipe and
    // sequence the pipe a transfer was taken from and its number there (pipe null for other
    // requests).
    struct Completion {
        PIRP irp;
        PURB urb;
        NTSTATUS status;
        USBD_STATUS usbdStatus;
        std::size_t moved;
        Pipe* pipe = nullptr;
        std::uint64_t sequence = 0;
    };
    // An abort pipe request that completes once no transfer numbered below `before` is left.
    struct PendingAbort {
        Completion completion;
        std::uint64_t before;
    };
    struct Pipe {
        USBD_PIPE_INFORMATION info;
        std::deque<Transfer> queue;               // in order of sequence
        std::uint64_t queued = 0;                 // the sequence of the next transfer queued
        std::multiset<std::uint64_t> completing;  // taken from the queue, completion not returned
        std::vector<PendingAbort> aborts;         // in order of `before`

        // The sequence of the oldest transfer not yet completed; `queued` when there is none.
        std::uint64_t oldest() const {
            std::uint64_t first = queue.empty() ? queued : queue.front().sequence;
            return completing.empty() ? first : std::min(first, *completing.begin());
        }
    };

    static VOID cancelTransfer(PDEVICE_OBJECT device, PIRP irp);

    NTSTATUS refuseIfPortDown(PIRP irp, PURB urb) noexcept override;
    ULONG portStatusBits() noexcept override;
    NTSTATUS resetPort(PIRP irp) noexcept override;
    NTSTATUS getDescriptor(PIRP irp, _URB_CONTROL_DESCRIPTOR_REQUEST& request) noexcept override;
    NTSTATUS selectConfiguration(PIRP irp, _URB_SELECT_CONFIGURATION& request) noexcept override;
    NTSTATUS configure(_URB_SELECT_CONFIGURATION& request);
    NTSTATUS queueTransfer(PIRP irp, _URB_BULK_OR_INTERRUPT_TRANSFER& request) noexcept override;
    NTSTATUS abortPipe(PIRP irp, _URB_PIPE_REQUEST& request) noexcept override;
    NTSTATUS resetPipe(PIRP irp, _URB_PIPE_REQUEST& request) noexcept override;

    // Caller holds lock_.
    Pipe* findPipe(USBD_PIPE_HANDLE handle);
    void abortLocked(Pipe& pipe, NTSTATUS status, USBD_STATUS usbdStatus,
                     std::vector<Completion>& done);
    void abortAllLocked(NTSTATUS status, USBD_STATUS usbdStatus, std::vector<Completion>& done);
    std::deque<Transfer>::iterator eraseLocked(Pipe& pipe, std::deque<Transfer>::iterator at,
                                               Completion completion,
                                               std::vector<Completion>& done);
    void waitUntilDrained(std::unique_lock<std::mutex>& lock);

    void functionChanged() noexcept override;
    void run();
    bool serviceHead(std::unique_lock<std::mutex>& lock, Pipe& pipe, UsbClock::time_point& wakeAt);
    UsbDataResult attempt(const USBD_PIPE_INFORMATION& info, const Transfer& transfer);
    bool finishAttempt(Pipe& pipe, Transfer& transfer, const UsbDataResult& result,
                       Completion& completion);
    void failWhilePortDown();

    // Called with lock_ not held.
    void completeRequests(const std::vector<Completion>& done) noexcept;
    void transferFinished(Pipe& pipe, std::uint64_t sequence) noexcept;

    UsbFunction& function_;
    unsigned port_ = 0;  // in the instance path; free again once the bus is gone

    mutable std::mutex lock_;
    std::condition_variable changed_;           // guarded by lock_: work arrived or a claim ended
    std::vector<std::unique_ptr<Pipe>> pipes_;  // guarded by lock_: pipes of the configuration
    std::uint8_t configurationValue_ = 0;       // guarded by lock_
    bool stopping_ = false;                     // guarded by lock_
    // Guarded by lock_: a transfer was queued or the function changed since the bus thread began
    // its pass over the pipes. The pass may have looked at that pipe already, so the thread
    // passes again instead of waiting.
    bool workSignalled_ = false;
    std::thread thread_;
};

}  // namespace bayercam::host
