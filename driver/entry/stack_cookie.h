// The stack-protection cookie of the driver image.
#pragma once

#include "platform/kernel.h"

// Keeps the compiler's stack protection out of a function that runs while the cookie changes.
#define NO_STACK_PROTECTOR __attribute__((no_stack_protector))

// Seeds the cookie that functions built with stack protection check before they return. Runs
// first at load (PASSIVE_LEVEL), before any protected function; its caller must carry
// NO_STACK_PROTECTOR, since that frame would check a cookie that changed under it. On the host
// the C runtime seeded its own cookie at process start and there is nothing to do.
VOID InitializeStackCookie();
