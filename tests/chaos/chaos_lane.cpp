#include "tests/chaos/chaos_lane.h"

#include <thread>
#include <utility>

#include "host/kernel/verifier.h"
#include "tests/chaos/property_fuzz.h"
#include "tests/chaos/stream_actions.h"
#include "tests/support/deadline.h"

namespace bayercam::chaos {
namespace {

using Perform = ActionResult (*)(CameraSlot&, ActionContext&);

ActionResult idle(CameraSlot&, ActionContext& context) {
    std::this_thread::sleep_for(std::chrono::milliseconds(context.rng.between(0, 150)));
    return STATUS_SUCCESS;
}

ActionResult streamProperty(CameraSlot& slot, ActionContext& context) {
    return fuzzProperty(slot.streamFilter, context);
}

ActionResult streamIntersection(CameraSlot& slot, ActionContext& context) {
    return fuzzIntersection(slot, slot.streamFilter, context);
}

// By ActionKind.
constexpr Perform kDeviceActions[kActionKinds] = {
    attachCamera,      detachCamera,       stopDevice,        startDevice,
    unplugCamera,      replugCamera,       injectCameraFault, injectAllocationFault,
    openStreamFilter,  closeStreamFilter,  createStreamPin,   closeStreamPin,
    setStreamPinState, setStreamPinFormat, queueStreamFrames, takeStreamFrames,
    streamProperty,    streamIntersection, triggerCamera,     idle};

// The client lane's filter: opened, closed, sent properties and intersections.
ActionResult clientAction(ActionKind kind, CameraSlot& slot, ActionContext& context) {
    host::ks::KsFilterHandle& filter = slot.clientFilter;
    switch (kind) {
        case ActionKind::OpenFilter: {
            if (slot.device == nullptr || filter != nullptr) return std::nullopt;
            NTSTATUS status = context.client.openFilter(slot.device, L"GLOBAL", &filter);
            if (!NT_SUCCESS(status)) filter = nullptr;
            return status;
        }
        case ActionKind::CloseFilter:
            if (filter == nullptr) return std::nullopt;
            return context.client.closeFilter(std::exchange(filter, nullptr));
        case ActionKind::PropertyFuzz:
            return fuzzProperty(filter, context);
        case ActionKind::Intersect:
            return fuzzIntersection(slot, filter, context);
        case ActionKind::Idle:
            return idle(slot, context);
        default:
            return std::nullopt;
    }
}

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
    const std::string what = "lane " + std::to_string(id_) + " #" + std::to_string(index) + " " +
                             actionName(action.kind);
    testing::WithDeadline(
        what, shared_.deadline,
        [&] {
            if (role_ == LaneRole::Device) {
                result = kDeviceActions[std::size_t(action.kind)](slot_, context);
            } else {
                std::shared_lock presence(slot_.presence);
                result = clientAction(action.kind, slot_, context);
            }
            lookForFaults(index);  // on the thread that acted, whose IRQL it checks
        },
        [&] { shared_.hang(what); });
    shared_.record.end(entry, result);
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
