// One camera of the run: the simulated camera on its USB port, the device the driver made of
// it, and the handles the two lanes hold on it. The device lane changes the camera's presence
// holding `presence` exclusively; the client lane acts holding it shared, so a removal never
// pulls a filter from under a request.
#pragma once

#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "host/ks/ks_client.h"
#include "host/usb/usb_bus.h"
#include "platform/ks.h"
#include "sim/simulated_camera.h"
#include "tests/chaos/action_context.h"

namespace bayercam::chaos {

struct QueuedFrame {
    ULONG bytes;
    bool withFrameInfo;
};

struct CameraSlot {
    CameraSlot(int index, sim::SimulatedCameraOptions options);
    ~CameraSlot();

    const int index;
    const sim::SimulatedCameraOptions options;
    std::string instancePath;  // the port: a re-plugged camera comes back with its settings

    std::shared_mutex presence;
    // Written by the device lane holding presence exclusively.
    std::unique_ptr<sim::SimulatedCamera> camera;
    std::unique_ptr<host::UsbBus> bus;
    host::ks::KsDeviceHandle device = nullptr;

    // The device lane's own.
    host::ks::KsFilterHandle streamFilter = nullptr;
    host::ks::KsPinHandle pin = nullptr;
    KS_DATAFORMAT_VIDEOINFOHEADER format{};
    std::vector<QueuedFrame> queued;  // in the order they come back

    // The client lane's own; a removal clears it holding presence exclusively.
    host::ks::KsFilterHandle clientFilter = nullptr;
};

// Presence and camera actions of the device lane.
ActionResult attachCamera(CameraSlot& slot, ActionContext& context);
ActionResult detachCamera(CameraSlot& slot, ActionContext& context);
ActionResult stopDevice(CameraSlot& slot, ActionContext& context);
ActionResult startDevice(CameraSlot& slot, ActionContext& context);
ActionResult unplugCamera(CameraSlot& slot, ActionContext& context);
ActionResult replugCamera(CameraSlot& slot, ActionContext& context);
ActionResult injectCameraFault(CameraSlot& slot, ActionContext& context);
ActionResult injectAllocationFault(CameraSlot& slot, ActionContext& context);
ActionResult triggerCamera(CameraSlot& slot, ActionContext& context);

// Closes what is open, removes the device and takes the camera off the bus: the teardown.
void removeCamera(CameraSlot& slot, host::ks::KsClient& client, RunRecord& record);

}  // namespace bayercam::chaos
