// A system thread routine built as driver code is (no exceptions): PsTerminateSystemThread
// must end the thread from a nested call all the same.
#include "tests/host/kernel/kernel_style_thread.h"

namespace {

void finishFromNestedCall(LONG volatile* steps) {
    InterlockedIncrement(steps);
    PsTerminateSystemThread(STATUS_SUCCESS);
    InterlockedIncrement(steps);  // never reached
}

}  // namespace

VOID KernelStyleThreadRoutine(PVOID StartContext) {
    auto* steps = static_cast<LONG volatile*>(StartContext);
    finishFromNestedCall(steps);
    InterlockedIncrement(steps);  // never reached
}
