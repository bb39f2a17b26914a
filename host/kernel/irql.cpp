#include "host/kernel/irql.h"

#include <string>

#include "host/kernel/verifier.h"

namespace bayercam::host::irql {
namespace {

// Every thread starts at PASSIVE_LEVEL; only this thread reads or writes its own level.
thread_local KIRQL currentIrql = PASSIVE_LEVEL;

}  // namespace

bool checkMayBlock(const char* service) noexcept {
    if (currentIrql <= APC_LEVEL) return true;
    verifier::report(std::string(service) + " would block at IRQL " + std::to_string(currentIrql) +
                     " (DISPATCH_LEVEL or above); a thread may block only below DISPATCH_LEVEL");
    return false;
}

bool checkPassive(const char* service) noexcept {
    if (currentIrql == PASSIVE_LEVEL) return true;
    verifier::report(std::string(service) + " called at IRQL " + std::to_string(currentIrql) +
                     "; it requires PASSIVE_LEVEL");
    return false;
}

}  // namespace bayercam::host::irql

using bayercam::host::irql::currentIrql;
using bayercam::host::verifier::report;

extern "C" KIRQL KeGetCurrentIrql(void) { return currentIrql; }

extern "C" KIRQL KfRaiseIrql(KIRQL NewIrql) {
    const KIRQL old = currentIrql;
    if (NewIrql < old) {
        report("KfRaiseIrql to " + std::to_string(NewIrql) + " from the higher IRQL " +
               std::to_string(old));
        return old;
    }
    currentIrql = NewIrql;
    return old;
}

extern "C" VOID KeLowerIrql(KIRQL NewIrql) {
    if (NewIrql > currentIrql) {
        report("KeLowerIrql to " + std::to_string(NewIrql) + " from the lower IRQL " +
               std::to_string(currentIrql));
        return;
    }
    currentIrql = NewIrql;
}
