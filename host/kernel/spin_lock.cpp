// Spin locks on the KSPIN_LOCK word: zero when free, else a value unique to the owning thread.
#include <atomic>
#include <thread>

#include "host/kernel/irql.h"
#include "host/kernel/verifier.h"

namespace {

using bayercam::host::verifier::report;

// A non-zero value unique to the calling thread: the address of a thread-local byte.
ULONG_PTR ownerId() noexcept {
    thread_local char marker;
    return reinterpret_cast<ULONG_PTR>(&marker);
}

std::atomic_ref<ULONG_PTR> word(PKSPIN_LOCK lock) noexcept { return std::atomic_ref(*lock); }

void acquire(PKSPIN_LOCK lock) noexcept {
    const ULONG_PTR self = ownerId();
    if (word(lock).load(std::memory_order_relaxed) == self) {
        report("spin lock acquired again by the thread that holds it (deadlock)");
        return;
    }
    ULONG_PTR expected = 0;
    while (!word(lock).compare_exchange_weak(expected, self, std::memory_order_acquire,
                                             std::memory_order_relaxed)) {
        expected = 0;
        // Two cores are shared by many threads: let the holder run.
        std::this_thread::yield();
    }
}

void release(PKSPIN_LOCK lock) noexcept {
    ULONG_PTR expected = ownerId();
    if (!word(lock).compare_exchange_strong(expected, 0, std::memory_order_release,
                                            std::memory_order_relaxed)) {
        report(expected == 0 ? "release of a spin lock that is not held"
                             : "release of a spin lock held by another thread");
    }
}

}  // namespace

extern "C" VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock) {
    word(SpinLock).store(0, std::memory_order_relaxed);
}

extern "C" KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock) {
    const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    acquire(SpinLock);
    return old;
}

extern "C" VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql) {
    release(SpinLock);
    KeLowerIrql(NewIrql);
}
