// Blocks placed against an inaccessible page, for the pool's guarded tags.
#pragma once

#include "platform/kernel.h"

namespace bayercam::host::pool {

// A block of `bytes` whose 16-byte-aligned end touches a page with no access; null on failure.
void* allocateGuarded(SIZE_T bytes) noexcept;

// Makes a freed guarded block inaccessible, so a use after free faults.
void revokeGuarded(void* block, SIZE_T bytes) noexcept;

// Returns the block's pages to the system.
void releaseGuarded(void* block, SIZE_T bytes) noexcept;

}  // namespace bayercam::host::pool
