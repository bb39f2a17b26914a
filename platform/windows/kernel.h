// Windows build: the platform's own kernel header in place of the host declarations, with what
// this toolchain's copy of it needs. Every such workaround lives in platform/windows/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The toolchain's intrinsics header defines these two itself, and the kernel header defines
// them again its own way; the intrinsics header's per-intrinsic guards leave them to the
// kernel header.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
// The compiler's <cpuid.h>, which the CPU feature checks use, has a __cpuid macro of its own;
// the intrinsics header's function of that name is left out so either may come first.
#define __INTRINSIC_DEFINED___cpuid
#define __INTRINSIC_DEFINED___cpuidex

#include <ntddk.h>

// Extended processor state components, as the user-mode header names them; the kernel header
// declares KeSaveExtendedProcessorState but not its masks.
#ifndef XSTATE_MASK_AVX
#define XSTATE_MASK_AVX (1ULL << 2)
#endif
#ifndef XSTATE_MASK_AVX512
#define XSTATE_MASK_AVX512 ((1ULL << 5) | (1ULL << 6) | (1ULL << 7))
#endif

// A mapping flag of MmGetSystemAddressForMdlSafe that this toolchain's kernel header lacks. The
// platform takes the priority as a ULONG with such flags OR'd in; this header passes it on as
// the enumeration, which C++ refuses for an OR'd value, so the macro converts it.
#ifndef MdlMappingNoExecute
#define MdlMappingNoExecute 0x40000000
#endif
#undef MmGetSystemAddressForMdlSafe
#define MmGetSystemAddressForMdlSafe(_Mdl, _Priority)                                     \
    (((_Mdl)->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL))         \
         ? (_Mdl)->MappedSystemVa                                                         \
         : (PVOID)MmMapLockedPagesSpecifyCache((_Mdl), KernelMode, MmCached, NULL, FALSE, \
                                               (MM_PAGE_PRIORITY)(_Priority)))

// The bug check a driver raises when a stack cookie was overwritten.
#ifndef DRIVER_OVERRAN_STACK_BUFFER
#define DRIVER_OVERRAN_STACK_BUFFER 0x000000F7
#endif

// The bug check of a fault the driver cannot handle.
#ifndef KMODE_EXCEPTION_NOT_HANDLED
#define KMODE_EXCEPTION_NOT_HANDLED 0x0000001E
#endif
