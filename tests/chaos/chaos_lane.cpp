#include "tests/chaos/chaos_lane.h"

#include <thread>

#include "host/kernel/verifier.h"
#include "tests/chaos/property_fuzz.h"
#include "tests/chaos/stream_actions.h"

namespace bayercam::chaos {
namespace {

using Perform = ActionResult (*)(CameraSlot&, ActionContext&);

ActionResult idle(CameraSlot&, ActionContext& context) {
    std::this_thread::sleep_for(std::chrono::milliseconds(context.rng.between(0, 150)));
    return STATUS_SUCCESS;
}

ActionResult notApplicable(CameraSlot&, ActionContext&) { return std::nullopt; }

ActionResult allocationFault(CameraSlot&, ActionContext& context) {
    return injectAllocationFault(context);
}

ActionResult streamProperty(CameraSlot& slot, ActionContext& context) {
    return fuzzProperty(slot.streamFilter, context);
}

ActionResult streamIntersection(CameraSlot& slot, ActionContext& context) {
    return fuzzIntersection(slot, slot.streamFilter, context);
}

ActionResult openClientFilter(CameraSlot& slot, ActionContext& context) {
    if (slot.device == nullptr || slot.clientFilter != nullptr) return std::nullopt;
    host::ks::KsFilterHandle filter = nullptr;
    NTSTATUS status = context.client.openFilter(slot.device, L"GLOBAL", &filter);
    if (NT_SUCCESS(status)) slot.clientFilter = filter;
    return status;
}

ActionResult closeClientFilter(CameraSlot& slot, ActionContext& context) {
    if (slot.clientFilter == nullptr) return std::nullopt;
    NTSTATUS status = context.client.closeFilter(slot.clientFilter);
    slot.clientFilter = nullptr;
    return status;
}

ActionResult clientProperty(CameraSlot& slot, ActionContext& context) {
    return fuzzProperty(slot.clientFilter, context);
}

ActionResult clientIntersection(CameraSlot& slot, ActionContext& context) {
    return fuzzIntersection(slot, slot.clientFilter, context);
}

// By ActionKind. The client lane acts holding the slot's presence shared.
constexpr Perform kDeviceActions[kActionKinds] = {
    attachCamera,     detachCamera,      stopDevice,         startDevice,        unplugCamera,
    replugCamera,     injectCameraFault, allocationFault,    openStreamFilter,   closeStreamFilter,
    createStreamPin,  closeStreamPin,    setStreamPinState,  setStreamPinFormat, queueStreamFrames,
    takeStreamFrames, streamProperty,    streamIntersection, triggerCamera,      idle};
constexpr Perform kClientActions[kActionKinds] = {
    notApplicable, notApplicable,  notApplicable,      notApplicable,    notApplicable,
    notApplicable, notApplicable,  notApplicable,      openClientFilter, closeClientFilter,
    notApplicable, notApplicable,  notApplicable,      notApplicable,    notApplicable,
    notApplicable, clientProperty, clientIntersection, notApplicable,    idle};

}  // namespace

ChaosLane::ChaosLane(int id, LaneRole role, CameraSlot& slot, RunShared& shared)
    : id_(id), role_(role), slot_(slot), shared_(shared), rng_(shared.seed, std::uint64_t(id)) {}

void ChaosLane::run(std::chrono::steady_clock::time_point until) {
    for (std::uint64_t index = 0; std::chrono::steady_clock::now() < until; ++index) step(index);
}

void ChaosLane::step(std::uint64_t index) {
    const Action action = nextAction(role_, rng_);
    const std::uint64_t entry = shared_.record.begin(id_, index, action.kind);
    ActionContext context{
        ChaosRng(action.parameterSeed),
        shared_.client,
        shared_.pnp,
        shared_.record,
        [&](const std::string& detail) { shared_.record.note(entry, detail); },
        [&](const std::string& what) { shared_.fault(id_, index, what); },
    };
    ActionResult result;
    {
        Deadline deadline(shared_.watchdog, id_,
                          "#" + std::to_string(index) + " " + actionName(action.kind));
        const auto kind = std::size_t(action.kind);
        if (role_ == LaneRole::Device) {
            result = kDeviceActions[kind](slot_, context);
        } else {
            std::shared_lock presence(slot_.presence);
            result = kClientActions[kind](slot_, context);
        }
    }
    shared_.record.end(entry, result);
    lookForFaults(index);
}

void ChaosLane::lookForFaults(std::uint64_t index) {
    for (const std::string& failure : host::verifier::takeFailures()) {
        shared_.fault(id_, index, "verifier: " + failure);
    }
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        shared_.fault(id_, index,
                      "the lane's thread is left at IRQL " + std::to_string(KeGetCurrentIrql()));
        KeLowerIrql(PASSIVE_LEVEL);
    }
}

}  // namespace bayercam::chaos
