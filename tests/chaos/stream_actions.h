// Streaming actions of the device lane: its filter, its pin's format and states, frames queued
// and taken (each checked against what was queued), and data intersections.
#pragma once

#include "tests/chaos/action_context.h"
#include "tests/chaos/camera_slot.h"

namespace bayercam::chaos {

ActionResult openStreamFilter(CameraSlot& slot, ActionContext& context);
ActionResult closeStreamFilter(CameraSlot& slot, ActionContext& context);
ActionResult createStreamPin(CameraSlot& slot, ActionContext& context);
ActionResult closeStreamPin(CameraSlot& slot, ActionContext& context);
ActionResult setStreamPinState(CameraSlot& slot, ActionContext& context);
ActionResult setStreamPinFormat(CameraSlot& slot, ActionContext& context);
ActionResult queueStreamFrames(CameraSlot& slot, ActionContext& context);
ActionResult takeStreamFrames(CameraSlot& slot, ActionContext& context);

// A data intersection on `filter` (of the slot's device) with the offered range, sound or
// damaged. Caller holds the slot's presence.
ActionResult fuzzIntersection(CameraSlot& slot, host::ks::KsFilterHandle filter,
                              ActionContext& context);

}  // namespace bayercam::chaos
