#include "tests/chaos/camera_slot.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "driver/device/pool_tags.h"
#include "host/kernel/failure_injection.h"
#include "sim/fault_schedule.h"
#include "tests/support/usb_port.h"

namespace bayercam::chaos {
namespace {

namespace injection = host::injection;

// A fresh camera on the slot's port; false when the bus could not make its device object (an
// injected allocation failure), leaving the port empty.
bool plugIn(CameraSlot& slot) {
    slot.camera = std::make_unique<sim::SimulatedCamera>(slot.options);
    try {
        slot.bus = testing::PlugIn(*slot.camera, slot.instancePath);
    } catch (const std::runtime_error&) {
        slot.camera.reset();
        return false;
    }
    if (slot.instancePath.empty()) slot.instancePath = testing::InstancePath(*slot.bus);
    return true;
}

// Returns the frames the camera sent.
std::uint64_t takeOffBus(CameraSlot& slot) {
    testing::Unplug(slot.bus);
    const std::uint64_t sent = slot.camera ? slot.camera->counters().delivered : 0;
    slot.camera.reset();
    return sent;
}

// Caller holds presence exclusively and the PnP lock. Removal closes every filter and pin.
NTSTATUS removeDevice(CameraSlot& slot, host::ks::KsClient& client) {
    NTSTATUS status = client.detachDevice(slot.device);
    slot.device = nullptr;
    slot.streamFilter = nullptr;
    slot.pin = nullptr;
    slot.clientFilter = nullptr;
    slot.queued.clear();
    return status;
}

// Caller holds presence exclusively and the PnP lock.
NTSTATUS arrive(CameraSlot& slot, host::ks::KsClient& client) {
    host::ks::KsDeviceHandle handle = nullptr;
    NTSTATUS status = client.attachDevice(slot.bus->physicalDeviceObject(), &handle);
    // A device whose start failed stays added, as after a failed PnP start.
    slot.device = handle;
    return status;
}

// A PnP request on the attached device, holding presence exclusively and the PnP lock.
template <class Request>
ActionResult onDevice(CameraSlot& slot, ActionContext& context, Request request) {
    std::unique_lock presence(slot.presence);
    if (slot.device == nullptr) return std::nullopt;
    std::lock_guard pnp(context.pnp);
    return request();
}

}  // namespace

CameraSlot::CameraSlot(int index, sim::SimulatedCameraOptions options)
    : index(index), options(std::move(options)) {
    if (!plugIn(*this)) throw std::runtime_error("the camera's USB port could not be created");
}

CameraSlot::~CameraSlot() { takeOffBus(*this); }

ActionResult attachCamera(CameraSlot& slot, ActionContext& context) {
    std::unique_lock presence(slot.presence);
    if (slot.device != nullptr || !slot.bus) return std::nullopt;
    std::lock_guard pnp(context.pnp);
    return arrive(slot, context.client);
}

ActionResult detachCamera(CameraSlot& slot, ActionContext& context) {
    return onDevice(slot, context, [&] { return removeDevice(slot, context.client); });
}

ActionResult stopDevice(CameraSlot& slot, ActionContext& context) {
    return onDevice(slot, context, [&] { return context.client.stopDevice(slot.device); });
}

ActionResult startDevice(CameraSlot& slot, ActionContext& context) {
    return onDevice(slot, context, [&] { return context.client.startDevice(slot.device); });
}

ActionResult replugCamera(CameraSlot& slot, ActionContext& context) {
    std::unique_lock presence(slot.presence);
    std::lock_guard pnp(context.pnp);
    if (slot.device != nullptr) removeDevice(slot, context.client);
    context.record.add(Count::CameraFrames, takeOffBus(slot));
    if (!plugIn(slot)) return STATUS_INSUFFICIENT_RESOURCES;
    return arrive(slot, context.client);
}

// The cable is pulled: for a while the device and its handles meet a camera that is gone,
// then removal comes, and the camera is plugged in again.
ActionResult unplugCamera(CameraSlot& slot, ActionContext& context) {
    if (!slot.camera) return std::nullopt;
    const auto gone = std::chrono::milliseconds(context.rng.between(0, 1000));
    context.note("for " + std::to_string(gone.count()) + "ms");
    slot.camera->unplug();
    std::this_thread::sleep_for(gone);
    return replugCamera(slot, context);
}

ActionResult injectCameraFault(CameraSlot& slot, ActionContext& context) {
    if (!slot.camera) return std::nullopt;
    sim::ScheduledFault fault{static_cast<sim::FaultKind>(context.rng.below(sim::kFaultKinds))};
    if (fault.kind == sim::FaultKind::ShortChunk) {
        fault.bytes = static_cast<std::size_t>(context.rng.between(1, 16383));
    } else if (fault.kind == sim::FaultKind::ShortReply) {
        fault.bytes = static_cast<std::size_t>(context.rng.between(1, 63));
    }
    context.note(sim::faultName(fault.kind));
    sim::armFault(*slot.camera, fault);
    context.record.add(Count::CameraFaults);
    return STATUS_SUCCESS;
}

ActionResult injectAllocationFault(CameraSlot&, ActionContext& context) {
    static const std::pair<ULONG, const char*> kTags[] = {
        {POOL_TAG_CAMERA, "camera"},
        {POOL_TAG_USB, "usb"},
        {POOL_TAG_COLOR, "color"},
        {POOL_TAG_FRAME, "frame"},
        {injection::kIrpSite, "irp"},
        {injection::kMdlSite, "mdl"},
        {injection::kDeviceSite, "device object"},
        {injection::kThreadSite, "thread"},
    };
    const auto& [tag, name] = kTags[context.rng.below(std::size(kTags))];
    const auto nth = static_cast<std::size_t>(context.rng.between(1, 16));
    context.note(std::string(name) + " #" + std::to_string(nth));
    injection::failNthOfTag(tag, nth);
    context.record.add(Count::AllocationFaults);
    return STATUS_SUCCESS;
}

ActionResult triggerCamera(CameraSlot& slot, ActionContext&) {
    if (!slot.camera) return std::nullopt;
    slot.camera->trigger();
    return STATUS_SUCCESS;
}

void removeCamera(CameraSlot& slot, host::ks::KsClient& client, RunRecord& record) {
    std::unique_lock presence(slot.presence);
    if (slot.device != nullptr) removeDevice(slot, client);
    record.add(Count::CameraFrames, takeOffBus(slot));
}

}  // namespace bayercam::chaos
