// The pieces of the C++ runtime that compiled driver code refers to, for the kernel image,
// which links no C++ library. Objects are built by placement on tagged pool memory and go back
// to the pool directly, never through operator delete.
#include "platform/kernel.h"

// The slots of an abstract interface's own table (CameraOps, FrameNotifier) point here; the
// table is in force only while a derived object is being built, and optimised builds drop it.
// A call through such a slot means a half-built or destroyed object, so it stops the system as
// an unhandled fault at the caller.
extern "C" void __cxa_pure_virtual() {
    KeBugCheckEx(KMODE_EXCEPTION_NOT_HANDLED, (ULONG_PTR)STATUS_NOT_IMPLEMENTED,
                 (ULONG_PTR)__builtin_return_address(0), 0, 0);
    __builtin_unreachable();
}
