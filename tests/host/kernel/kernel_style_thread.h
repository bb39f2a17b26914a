// A thread routine compiled without exceptions, as the driver is.
#pragma once

#include "platform/kernel.h"

// Counts one step in the LONG at StartContext, then terminates from a nested call.
VOID KernelStyleThreadRoutine(PVOID StartContext);
