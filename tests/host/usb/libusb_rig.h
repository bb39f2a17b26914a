// A USB device node emulated below the real libusb: a umockdev testbed holds the device's sysfs
// entry and descriptors, and an ioctl handler answers the usbdevfs requests (submit, reap,
// discard, claim, clear halt, reset) by forwarding every transfer to a UsbFunction, such as the
// simulated camera. Test programs using it run under umockdev-wrapper.
#pragma once

#include <cstdint>
#include <memory>

#include "host/usb/usb_function.h"

namespace bayercam::host::testing {

class LibusbRig {
  public:
    LibusbRig();
    ~LibusbRig();
    LibusbRig(const LibusbRig&) = delete;
    LibusbRig& operator=(const LibusbRig&) = delete;

    // Attaches the function as bus 1, address 2, configured as the kernel leaves a new device,
    // with the build's vendor and product ids in place of the function's own.
    void plug(UsbFunction& function);
    // Pulls the device out: transfers in flight end with ENODEV, the node and its sysfs entry go.
    void unplug();
    // Another process holds the interface: claims fail with EBUSY.
    void setClaimedElsewhere(bool claimed);
    // The device node is opened only by whoever may ignore file permissions.
    void denyAccess();
    // URBs submitted and not yet reaped.
    std::size_t urbsInFlight();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace bayercam::host::testing
