// The actions the runner mixes, and which lane draws which, how often. A lane draws its next
// action from its own generator alone, never from what the last one did, so a seed always
// gives the same sequence; an action that does not apply in the state it meets is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/kernel.h"
#include "tests/chaos/chaos_rng.h"

namespace bayercam::chaos {

enum class ActionKind {
    Attach,           // device arrival: Add and Start
    Detach,           // removal, closing whatever is open
    StopDevice,       // PnP stop (refused while a filter is open)
    StartDevice,      // PnP start of an attached device
    Unplug,           // the camera leaves the bus; after a while removal and a re-plug
    Replug,           // removal, a fresh camera on the same port, arrival
    CameraFault,      // one of the camera's one-shot faults, or a disabled port
    AllocationFault,  // the nth allocation of one tag fails
    OpenFilter,
    CloseFilter,
    CreatePin,
    ClosePin,
    SetPinState,
    SetPinFormat,
    QueueFrames,
    TakeFrames,
    PropertyFuzz,  // a property request with random set, id, verb, sizes and contents
    Intersect,     // data intersection with a damaged or sound range
    Trigger,       // the camera's external trigger
    Idle,          // time for frames to flow
};
constexpr std::size_t kActionKinds = static_cast<std::size_t>(ActionKind::Idle) + 1;

const char* actionName(ActionKind kind) noexcept;

// The device lane owns a camera's presence and its streaming; the client lane is a second
// application on the same camera with a filter of its own, which now and then tries a pin of
// its own for a moment.
enum class LaneRole { Device, Client };

struct Action {
    ActionKind kind;
    std::uint64_t parameterSeed;  // the action draws its parameters from a generator of this
};

Action nextAction(LaneRole role, ChaosRng& rng) noexcept;

// What an action returns: the status of its last request, or nothing when it did not apply.
using ActionResult = std::optional<NTSTATUS>;

}  // namespace bayercam::chaos
