// The driver loaded into the class driver stand-in, for a whole fuzzing run, with a scratch
// registry and short transfer time-outs. A USB function is plugged in behind a bus, the device
// attached over it, a filter opened on it; the rig undoes each step in reverse.
#pragma once

#include <memory>
#include <string>

#include "driver/device/camera_device.h"
#include "host/ks/ks_client.h"
#include "host/usb/usb_bus.h"
#include "sim/simulated_camera.h"
#include "tests/support/scratch_registry.h"

namespace bayercam::fuzz {

class CameraRig {
  public:
    // Loads the driver; aborts when it cannot.
    CameraRig();
    ~CameraRig();
    CameraRig(const CameraRig&) = delete;
    CameraRig& operator=(const CameraRig&) = delete;

    // A bus over the function, whose device keeps its settings under the given registry
    // instance path. Replaces any function plugged in before (detaching its device first).
    void plug(host::UsbFunction& function, const std::string& instancePath);
    void unplug();
    // Where the plugged device keeps its settings from now on: a path never used before
    // starts with no stored settings.
    void rebindRegistry(const std::string& instancePath);

    // Add and Start; returns the status of the attach.
    NTSTATUS attach();
    void detach();
    NTSTATUS openFilter();
    void closeFilter();

    host::ks::KsClient& client() { return *client_; }
    host::ks::KsDeviceHandle device() const { return device_; }
    host::ks::KsFilterHandle filter() const { return filter_; }
    // The camera device of the attached device; null when there is none.
    CameraDevice* camera();

    testing::ScratchRegistry registry;

  private:
    std::unique_ptr<host::ks::KsClient> client_;
    std::unique_ptr<host::UsbBus> bus_;
    host::ks::KsDeviceHandle device_ = nullptr;
    host::ks::KsFilterHandle filter_ = nullptr;
};

// The simulated camera (test pattern, frames as fast as asked for) attached, with a filter open
// on it; shared by every input of a run where the inputs leave no state that matters behind.
// Aborts when the attach or the filter fails.
struct OpenCamera {
    OpenCamera();

    sim::SimulatedCamera camera;
    CameraRig rig;  // declared after the camera: it lets go of the camera first
};

}  // namespace bayercam::fuzz
