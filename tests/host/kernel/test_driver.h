// A test double for a driver: device objects whose dispatch routine calls a per-device handler,
// so a test can build a small device stack and script what each device does with a request.
#pragma once

#include <functional>
#include <new>
#include <vector>

#include "platform/kernel.h"

namespace bayercam::host::testing {

using Handler = std::function<NTSTATUS(PDEVICE_OBJECT, PIRP)>;

class TestDriver {
  public:
    TestDriver() {
        for (auto& entry : driver_.MajorFunction) entry = &TestDriver::dispatch;
    }
    ~TestDriver() {
        for (auto it = devices_.rbegin(); it != devices_.rend(); ++it) {
            PDEVICE_OBJECT device = *it;
            if (device->AttachedDevice) IoDetachDevice(device);
        }
        for (PDEVICE_OBJECT device : devices_) {
            handlerOf(device).~Handler();
            IoDeleteDevice(device);
        }
    }

    // A new device on top of `lower` (or a new stack when null) running `handler`.
    PDEVICE_OBJECT addDevice(Handler handler, PDEVICE_OBJECT lower = nullptr) {
        PDEVICE_OBJECT device = nullptr;
        IoCreateDevice(&driver_, sizeof(Handler), nullptr, FILE_DEVICE_KS, 0, FALSE, &device);
        new (device->DeviceExtension) Handler(std::move(handler));
        if (lower) IoAttachDeviceToDeviceStack(device, lower);
        devices_.push_back(device);
        return device;
    }

  private:
    static Handler& handlerOf(PDEVICE_OBJECT device) {
        return *static_cast<Handler*>(device->DeviceExtension);
    }
    static NTSTATUS dispatch(PDEVICE_OBJECT device, PIRP irp) {
        return handlerOf(device)(device, irp);
    }

    DRIVER_OBJECT driver_{};
    std::vector<PDEVICE_OBJECT> devices_;
};

// Handlers for common device behaviours.
inline Handler completeWith(NTSTATUS status) {
    return [=](PDEVICE_OBJECT, PIRP irp) {
        irp->IoStatus.Status = status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    };
}

// Marks the request pending and keeps it in `held` for the test to complete.
inline Handler holdPending(PIRP& held) {
    return [&held](PDEVICE_OBJECT, PIRP irp) {
        IoMarkIrpPending(irp);
        held = irp;
        return STATUS_PENDING;
    };
}

// Passes the request down to `lower`.
inline Handler forwardTo(PDEVICE_OBJECT* lower) {
    return [=](PDEVICE_OBJECT, PIRP irp) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        return IoCallDriver(*lower, irp);
    };
}

}  // namespace bayercam::host::testing
