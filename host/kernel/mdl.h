// MDL bookkeeping.
#pragma once

#include "platform/kernel.h"

namespace bayercam::host::mdls {

// True while `mdl` came from IoAllocateMdl and has not been freed.
bool isMdl(const MDL* mdl) noexcept;

}  // namespace bayercam::host::mdls
