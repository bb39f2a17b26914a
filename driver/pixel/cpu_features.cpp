// CPU feature checks for the kernel levels: the instruction set bits and, for the wider
// registers, whether the OS saves their state (XCR0).
#include <cpuid.h>

#include "driver/pixel/pixel_levels.h"

namespace {

const unsigned kOsxsave = 1u << 27;   // CPUID.1:ECX
const unsigned kAvx = 1u << 28;       // CPUID.1:ECX
const unsigned kAvx2 = 1u << 5;       // CPUID.7.0:EBX
const unsigned kAvx512F = 1u << 16;   // CPUID.7.0:EBX
const unsigned kAvx512Bw = 1u << 30;  // CPUID.7.0:EBX
const ULONG64 kXcr0Ymm = 0x6;         // SSE and AVX state
const ULONG64 kXcr0Zmm = 0xE6;        // plus opmask and the upper ZMM state

ULONG64 ReadXcr0() {
    unsigned low = 0;
    unsigned high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return ((ULONG64)high << 32) | low;
}

// EBX of leaf 7 when the OS saves at least the state in xcr0Mask, else 0.
unsigned ExtendedFeatures(ULONG64 xcr0Mask) {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
    if ((ecx & (kOsxsave | kAvx)) != (kOsxsave | kAvx)) return 0;
    if ((ReadXcr0() & xcr0Mask) != xcr0Mask) return 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return 0;
    return ebx;
}

}  // namespace

bool CpuSupportsAvx2() { return (ExtendedFeatures(kXcr0Ymm) & kAvx2) != 0; }

bool CpuSupportsAvx512Bw() {
    const unsigned needed = kAvx512F | kAvx512Bw;
    return (ExtendedFeatures(kXcr0Zmm) & needed) == needed;
}
