// The USB bus over libusb: the same physical device object as the simulated bus, backed by a
// real device (or one emulated below libusb). URBs map onto libusb calls on the claimed
// interface; bulk transfers go straight between the device and the memory the request
// describes, and complete at dispatch level from the bus's own event thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "host/usb/bus_device.h"
#include "host/usb/libusb_devices.h"

struct libusb_transfer;

namespace bayercam::host {

class LibusbBus final : public BusDevice {
  public:
    // Opens the first device the selector matches. Throws UsbOpenError when none can be opened.
    explicit LibusbBus(const UsbSelector& selector);
    // Cancels and awaits every transfer, releases the interface (re-attaching a kernel driver
    // that was detached) and closes the device.
    ~LibusbBus() override;

    std::vector<std::uint8_t> deviceDescriptor() const override;
    std::vector<std::uint8_t> configurationDescriptor() const override;
    std::uint8_t configurationValue() const override;

    // Once the device has left, every request fails as on an unplugged port.
    bool present() const override { return !gone_.load(); }

    const UsbDeviceInfo& device() const noexcept { return info_; }
    // Transfers handed to libusb and not yet completed.
    std::size_t transfersInFlight() const;

  private:
    struct Pipe;
    struct Transfer {
        LibusbBus* bus;
        Pipe* pipe;
        PIRP irp;
        _URB_BULK_OR_INTERRUPT_TRANSFER* urb;
        libusb_transfer* transfer;
        std::uint64_t sequence;
    };
    struct PendingAbort {
        PIRP irp;
        _URB_PIPE_REQUEST* urb;
        std::uint64_t before;  // completes once no transfer numbered below this is left
    };
    struct Pipe {
        USBD_PIPE_INFORMATION info;
        std::uint64_t queued = 0;  // sequence of the next transfer
        std::map<std::uint64_t, std::unique_ptr<Transfer>> inFlight;  // by sequence
        std::vector<PendingAbort> aborts;
        std::uint64_t oldest() const { return inFlight.empty() ? queued : inFlight.begin()->first; }
    };

    NTSTATUS refuseIfPortDown(PIRP irp, PURB urb) noexcept override;
    ULONG portStatusBits() noexcept override;
    NTSTATUS resetPort(PIRP irp) noexcept override;
    NTSTATUS getDescriptor(PIRP irp, _URB_CONTROL_DESCRIPTOR_REQUEST& request) noexcept override;
    NTSTATUS selectConfiguration(PIRP irp, _URB_SELECT_CONFIGURATION& request) noexcept override;
    NTSTATUS queueTransfer(PIRP irp, _URB_BULK_OR_INTERRUPT_TRANSFER& request) noexcept override;
    NTSTATUS abortPipe(PIRP irp, _URB_PIPE_REQUEST& request) noexcept override;
    // The pipe a handle names, or nothing; lock_ held.
    Pipe* pipeLocked(USBD_PIPE_HANDLE handle) noexcept;
    NTSTATUS resetPipe(PIRP irp, _URB_PIPE_REQUEST& request) noexcept override;

    static VOID cancelTransfer(PDEVICE_OBJECT device, PIRP irp);
    static void transferDone(libusb_transfer* transfer);
    void finishTransfer(Transfer& transfer) noexcept;
    // Cancels every transfer in flight and waits until all have completed. Passive level.
    void cancelAllAndWait();
    // Notes a libusb result that says the device has left.
    int watch(int result) noexcept;
    std::vector<std::uint8_t> readDescriptor(std::uint8_t type, std::size_t length);
    void runEvents();

    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    int interface_ = 0;
    UsbDeviceInfo info_;
    std::vector<std::uint8_t> deviceDescriptor_;
    std::vector<std::uint8_t> configuration_;
    std::atomic<bool> gone_{false};
    std::atomic<bool> stopping_{false};

    mutable std::mutex lock_;
    std::condition_variable drained_;           // a transfer completed
    std::vector<std::unique_ptr<Pipe>> pipes_;  // guarded by lock_
    std::uint8_t configurationValue_ = 0;       // guarded by lock_
    std::thread events_;
};

}  // namespace bayercam::host
