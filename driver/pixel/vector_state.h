// The bracket around a call of a kernel level that uses the wider vector registers. On the
// platform, kernel code may use the SSE registers freely, but the AVX and AVX-512 register state
// belongs to whichever thread was interrupted and must be saved before and restored after; on
// the host the bracket is empty.
#pragma once

#include "driver/pixel/pixel_levels.h"

struct VectorStateSave {
#if defined(BAYERCAM_WINDOWS_KERNEL)
    XSTATE_SAVE state;
    BOOLEAN saved;  // state holds a save to restore
#endif
};

// Saves the state the level's instructions change (none for the scalar and SSE2 levels).
// FALSE when it could not be saved: the level must not run, and there is nothing to restore.
// Runs at IRQL <= DISPATCH_LEVEL.
BOOLEAN SaveVectorState(const PixelKernelTable* level, VectorStateSave* save);
// Restores what SaveVectorState saved, on the same thread and at the same IRQL.
VOID RestoreVectorState(VectorStateSave* save);
