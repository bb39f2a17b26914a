#include "tests/chaos/action_catalogue.h"

#include <array>

namespace bayercam::chaos {
namespace {

struct Weighted {
    ActionKind kind;
    unsigned weight;
};

// Frames are queued and taken often enough that pins run between the disruptions.
constexpr Weighted kDeviceLane[] = {
    {ActionKind::Attach, 8},      {ActionKind::Detach, 1},          {ActionKind::StopDevice, 1},
    {ActionKind::StartDevice, 2}, {ActionKind::Unplug, 1},          {ActionKind::Replug, 2},
    {ActionKind::CameraFault, 3}, {ActionKind::AllocationFault, 2}, {ActionKind::OpenFilter, 10},
    {ActionKind::CloseFilter, 1}, {ActionKind::CreatePin, 10},      {ActionKind::ClosePin, 2},
    {ActionKind::SetPinState, 8}, {ActionKind::SetPinFormat, 1},    {ActionKind::QueueFrames, 24},
    {ActionKind::TakeFrames, 24}, {ActionKind::PropertyFuzz, 5},    {ActionKind::Trigger, 1},
    {ActionKind::Idle, 4},
};

constexpr Weighted kClientLane[] = {
    {ActionKind::OpenFilter, 3}, {ActionKind::CloseFilter, 2}, {ActionKind::PropertyFuzz, 20},
    {ActionKind::Intersect, 3},  {ActionKind::Idle, 4},
};

template <std::size_t N>
ActionKind draw(const Weighted (&table)[N], ChaosRng& rng) noexcept {
    unsigned total = 0;
    for (const Weighted& entry : table) total += entry.weight;
    auto ticket = static_cast<unsigned>(rng.below(total));
    for (const Weighted& entry : table) {
        if (ticket < entry.weight) return entry.kind;
        ticket -= entry.weight;
    }
    return ActionKind::Idle;
}

constexpr std::array<const char*, kActionKinds> kNames = {
    "attach",      "detach",       "stop-device", "start-device", "unplug",
    "replug",      "camera-fault", "alloc-fault", "open-filter",  "close-filter",
    "create-pin",  "close-pin",    "pin-state",   "pin-format",   "queue-frames",
    "take-frames", "property",     "intersect",   "trigger",      "idle",
};

}  // namespace

const char* actionName(ActionKind kind) noexcept { return kNames[static_cast<std::size_t>(kind)]; }

Action nextAction(LaneRole role, ChaosRng& rng) noexcept {
    const ActionKind kind =
        role == LaneRole::Device ? draw(kDeviceLane, rng) : draw(kClientLane, rng);
    return {kind, rng.next()};
}

}  // namespace bayercam::chaos
