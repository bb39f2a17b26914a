#include "tests/chaos/chaos_lane.h"

#include <thread>

#include "host/kernel/verifier.h"
#include "tests/chaos/property_fuzz.h"
#include "tests/chaos/stream_actions.h"

namespace bayercam::chaos {

ChaosLane::ChaosLane(int id, LaneRole role, CameraSlot& slot, RunShared& shared)
    : id_(id), role_(role), slot_(slot), shared_(shared), rng_(shared.seed, std::uint64_t(id)) {}

void ChaosLane::run(std::chrono::steady_clock::time_point until) {
    for (std::uint64_t index = 0; std::chrono::steady_clock::now() < until; ++index) step(index);
}

void ChaosLane::step(std::uint64_t index) {
    const Action action = nextAction(role_, rng_);
    const std::uint64_t entry = shared_.log.begin(id_, index, actionName(action.kind));
    ActionContext context{
        ChaosRng(action.parameterSeed),
        shared_.client,
        shared_.pnp,
        shared_.tally,
        [&](const std::string& detail) { shared_.log.note(entry, detail); },
        [&](const std::string& what) { shared_.fault(id_, index, what); },
    };
    ActionResult result;
    {
        Deadline deadline(shared_.watchdog, id_,
                          "#" + std::to_string(index) + " " + actionName(action.kind));
        result = perform(action.kind, context);
    }
    shared_.log.end(entry, result ? statusName(*result) : "skipped", result.has_value());
    if (result) {
        shared_.tally.ran(action.kind);
        shared_.tally.status(*result);
    } else {
        shared_.tally.skipped(action.kind);
    }
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

ActionResult ChaosLane::perform(ActionKind kind, ActionContext& context) {
    if (kind == ActionKind::Idle) {
        std::this_thread::sleep_for(std::chrono::milliseconds(context.rng.between(0, 150)));
        return STATUS_SUCCESS;
    }
    return role_ == LaneRole::Device ? performAsDevice(kind, context)
                                     : performAsClient(kind, context);
}

ActionResult ChaosLane::performAsDevice(ActionKind kind, ActionContext& context) {
    switch (kind) {
        case ActionKind::Attach:
            return attachCamera(slot_, context);
        case ActionKind::Detach:
            return detachCamera(slot_, context);
        case ActionKind::StopDevice:
            return stopDevice(slot_, context);
        case ActionKind::StartDevice:
            return startDevice(slot_, context);
        case ActionKind::Unplug:
            return unplugCamera(slot_, context);
        case ActionKind::Replug:
            return replugCamera(slot_, context);
        case ActionKind::CameraFault:
            return injectCameraFault(slot_, context);
        case ActionKind::AllocationFault:
            return injectAllocationFault(context);
        case ActionKind::OpenFilter:
            return openStreamFilter(slot_, context);
        case ActionKind::CloseFilter:
            return closeStreamFilter(slot_, context);
        case ActionKind::CreatePin:
            return createStreamPin(slot_, context);
        case ActionKind::ClosePin:
            return closeStreamPin(slot_, context);
        case ActionKind::SetPinState:
            return setStreamPinState(slot_, context);
        case ActionKind::SetPinFormat:
            return setStreamPinFormat(slot_, context);
        case ActionKind::QueueFrames:
            return queueStreamFrames(slot_, context);
        case ActionKind::TakeFrames:
            return takeStreamFrames(slot_, context);
        case ActionKind::PropertyFuzz:
            return fuzzProperty(slot_.streamFilter, context);
        case ActionKind::Intersect:
            return fuzzIntersection(slot_, slot_.streamFilter, context);
        case ActionKind::Trigger:
            return triggerCamera(slot_, context);
        case ActionKind::Idle:
            break;
    }
    return std::nullopt;
}

ActionResult ChaosLane::performAsClient(ActionKind kind, ActionContext& context) {
    std::shared_lock presence(slot_.presence);
    switch (kind) {
        case ActionKind::OpenFilter: {
            if (slot_.device == nullptr || slot_.clientFilter != nullptr) return std::nullopt;
            host::ks::KsFilterHandle filter = nullptr;
            NTSTATUS status = context.client.openFilter(slot_.device, L"GLOBAL", &filter);
            if (NT_SUCCESS(status)) slot_.clientFilter = filter;
            return status;
        }
        case ActionKind::CloseFilter: {
            if (slot_.clientFilter == nullptr) return std::nullopt;
            NTSTATUS status = context.client.closeFilter(slot_.clientFilter);
            slot_.clientFilter = nullptr;
            return status;
        }
        case ActionKind::PropertyFuzz:
            return fuzzProperty(slot_.clientFilter, context);
        case ActionKind::Intersect:
            return fuzzIntersection(slot_, slot_.clientFilter, context);
        default:
            return std::nullopt;
    }
}

}  // namespace bayercam::chaos
