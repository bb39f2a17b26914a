// What every USB bus backend shares: the physical device object a client driver sends its
// internal device controls to, their dispatch down to one URB handler per function, and the
// device's instance path. A backend supplies the handlers and what an application may read of
// the device (descriptors, the selected configuration).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/usb.h"

namespace bayercam::host {

class BusDevice {
  public:
    BusDevice(const BusDevice&) = delete;
    BusDevice& operator=(const BusDevice&) = delete;
    virtual ~BusDevice();

    PDEVICE_OBJECT physicalDeviceObject() const noexcept { return pdo_; }
    // Device instance path, e.g. USB\VID_1D50&PID_6A31\5&2C1A3F&0&1.
    const std::wstring& instancePath() const noexcept { return instancePath_; }

    virtual std::vector<std::uint8_t> deviceDescriptor() const = 0;
    virtual std::vector<std::uint8_t> configurationDescriptor() const = 0;
    // The value of the configuration the device's driver selected; 0 while none is.
    virtual std::uint8_t configurationValue() const = 0;
    // False once the device has left the bus.
    virtual bool present() const = 0;

  protected:
    // Creates the physical device object. Throws std::runtime_error when it cannot.
    BusDevice();

    void setInstancePath(std::wstring path) { instancePath_ = std::move(path); }
    static BusDevice* fromDevice(PDEVICE_OBJECT device) noexcept;
    static void complete(PIRP irp, NTSTATUS status, ULONG_PTR information) noexcept;
    // Completes a URB request at once with a failure.
    static NTSTATUS refuse(PIRP irp, _URB_HEADER& header, NTSTATUS status,
                           USBD_STATUS usbdStatus) noexcept;

    // Completes the request and returns its status, or returns STATUS_SUCCESS to let it through.
    virtual NTSTATUS refuseIfPortDown(PIRP irp, PURB urb) noexcept = 0;
    // USBD_PORT_CONNECTED and USBD_PORT_ENABLED as the port is now.
    virtual ULONG portStatusBits() noexcept = 0;
    virtual NTSTATUS resetPort(PIRP irp) noexcept = 0;
    virtual NTSTATUS getDescriptor(PIRP irp, _URB_CONTROL_DESCRIPTOR_REQUEST& request) noexcept = 0;
    virtual NTSTATUS selectConfiguration(PIRP irp, _URB_SELECT_CONFIGURATION& request) noexcept = 0;
    virtual NTSTATUS queueTransfer(PIRP irp, _URB_BULK_OR_INTERRUPT_TRANSFER& request) noexcept = 0;
    virtual NTSTATUS abortPipe(PIRP irp, _URB_PIPE_REQUEST& request) noexcept = 0;
    virtual NTSTATUS resetPipe(PIRP irp, _URB_PIPE_REQUEST& request) noexcept = 0;

  private:
    static NTSTATUS dispatchInternalControl(PDEVICE_OBJECT device, PIRP irp);
    static NTSTATUS dispatchPassThrough(PDEVICE_OBJECT device, PIRP irp);
    static NTSTATUS dispatchPnp(PDEVICE_OBJECT device, PIRP irp);
    NTSTATUS submitUrb(PIRP irp, PURB urb) noexcept;
    NTSTATUS portStatus(PIRP irp) noexcept;

    DRIVER_OBJECT driver_{};
    PDEVICE_OBJECT pdo_ = nullptr;
    std::wstring instancePath_;
};

// USB\VID_vvvv&PID_pppp\tail: the platform's instance path of a device with those ids, where the
// tail is the device's serial number or, without one, a name for the port it is plugged into.
std::wstring usbInstancePath(unsigned vendor, unsigned product, const std::wstring& tail);

// The transfer buffer of a request: the memory its MDL describes, else its plain pointer.
std::uint8_t* urbTransferBuffer(PMDL mdl, PVOID buffer) noexcept;

}  // namespace bayercam::host
