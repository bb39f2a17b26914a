// The image has no C runtime start-up, so the cookie that stack protection compares is the
// driver's own: a fixed value until the load entry replaces it with one that differs per load.
#include "driver/entry/stack_cookie.h"

#if defined(BAYERCAM_WINDOWS_KERNEL)

#include <intrin.h>

extern "C" {

// Read by every protected function's prologue and epilogue.
ULONG_PTR __stack_chk_guard = 0x2B992DDFA232;

// A protected function found its cookie overwritten: its stack is corrupt, so nothing it would
// return to can be trusted.
__attribute__((noreturn)) void __stack_chk_fail() {
    KeBugCheckEx(DRIVER_OVERRAN_STACK_BUFFER, (ULONG_PTR)__builtin_return_address(0),
                 __stack_chk_guard, 0, 0);
    __builtin_unreachable();
}

}  // extern "C"

NO_STACK_PROTECTOR VOID InitializeStackCookie() {
    LARGE_INTEGER counter = KeQueryPerformanceCounter(nullptr);
    // Cycle count, performance counter and this frame's address: each differs from load to
    // load, and together they are not guessable from outside.
    ULONG_PTR cookie =
        (ULONG_PTR)__rdtsc() ^ ((ULONG_PTR)counter.QuadPart << 21) ^ (ULONG_PTR)&counter;
    if (cookie == 0 || cookie == __stack_chk_guard) cookie ^= 0x2B992DDFA232;
    __stack_chk_guard = cookie;
}

#else

VOID InitializeStackCookie() {}

#endif  // BAYERCAM_WINDOWS_KERNEL
