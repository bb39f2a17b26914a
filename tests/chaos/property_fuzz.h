// Property requests a careless or hostile client might send: mostly the camera's own set with
// its ids, but any verb, request and data sizes around each minimum, and values at the edges.
#pragma once

#include "tests/chaos/action_context.h"

namespace bayercam::chaos {

// One request on `filter`; the caller keeps the filter open meanwhile.
ActionResult fuzzProperty(host::ks::KsFilterHandle filter, ActionContext& context);

}  // namespace bayercam::chaos
