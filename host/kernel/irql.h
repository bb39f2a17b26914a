// The notional IRQL of each thread, and the checks that depend on it.
#pragma once

#include "platform/kernel.h"

namespace bayercam::host::irql {

// Reports a verifier failure when the calling thread may not block (IRQL above APC_LEVEL).
// `service` names the blocking call in the message. Returns false when it reported.
bool checkMayBlock(const char* service) noexcept;

// Reports a verifier failure when the calling thread runs above PASSIVE_LEVEL.
bool checkPassive(const char* service) noexcept;

}  // namespace bayercam::host::irql
