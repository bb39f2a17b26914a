#include "driver/pixel/vector_state.h"

#if defined(BAYERCAM_WINDOWS_KERNEL)

namespace {

// The extended state components a level's instructions touch.
ULONG64 StateMaskOf(const PixelKernelTable* level) {
    if (level == &kAvx512Kernels) return XSTATE_MASK_AVX | XSTATE_MASK_AVX512;
    if (level == &kAvx2Kernels) return XSTATE_MASK_AVX;
    return 0;
}

}  // namespace

BOOLEAN SaveVectorState(const PixelKernelTable* level, VectorStateSave* save) {
    save->saved = FALSE;
    const ULONG64 mask = StateMaskOf(level);
    if (mask == 0) return TRUE;
    if (!NT_SUCCESS(KeSaveExtendedProcessorState(mask, &save->state))) return FALSE;
    save->saved = TRUE;
    return TRUE;
}

VOID RestoreVectorState(VectorStateSave* save) {
    if (save->saved) KeRestoreExtendedProcessorState(&save->state);
    save->saved = FALSE;
}

#else

// The host's threads keep their own register state.
BOOLEAN SaveVectorState(const PixelKernelTable*, VectorStateSave*) { return TRUE; }

VOID RestoreVectorState(VectorStateSave*) {}

#endif  // BAYERCAM_WINDOWS_KERNEL
