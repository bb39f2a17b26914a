// The pieces of the C++ runtime that compiled driver code refers to, for the kernel image,
// which links no C++ library. Objects are built by placement on tagged pool memory and freed
// with ExFreePoolWithTag, never through operator delete.
#include "platform/kernel.h"

// A call through a pure virtual slot: only possible on a half-built or destroyed object, so it
// stops the system as an unhandled fault at the caller.
extern "C" void __cxa_pure_virtual() {
    KeBugCheckEx(KMODE_EXCEPTION_NOT_HANDLED, (ULONG_PTR)STATUS_NOT_IMPLEMENTED,
                 (ULONG_PTR)__builtin_return_address(0), 0, 0);
    __builtin_unreachable();
}
