#include <thread>

#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

using IrqlTest = testing::KernelTest;

// ---------------------------------------------------------------- IRQL

// A new thread starts at PASSIVE_LEVEL whatever the level of the thread that made it.
TEST_F(IrqlTest, RaiseAndLowerAreThreadLocal) {
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_EQ(old, PASSIVE_LEVEL);
    KIRQL seenElsewhere = 0xFF;
    std::thread other([&] { seenElsewhere = KeGetCurrentIrql(); });
    other.join();
    EXPECT_EQ(seenElsewhere, PASSIVE_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KeLowerIrql(old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST_F(IrqlTest, RaisingBelowCurrentLevelIsReported) {
    const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    KfRaiseIrql(APC_LEVEL);
    expectVerifierFailure("KfRaiseIrql");
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KeLowerIrql(old);
}

TEST_F(IrqlTest, LoweringAboveCurrentLevelIsReported) {
    KeLowerIrql(DISPATCH_LEVEL);
    expectVerifierFailure("KeLowerIrql");
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

// ---------------------------------------------------------------- blocking at dispatch level

TEST_F(IrqlTest, BlockingWaitAtDispatchLevelIsReported) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -10'000;
    const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    const NTSTATUS status = KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout);
    KeLowerIrql(old);
    EXPECT_EQ(status, STATUS_SUCCESS);
    expectVerifierFailure("KeWaitForSingleObject would block at IRQL 2");
}

TEST_F(IrqlTest, ZeroTimeoutPollIsAllowedAtDispatchLevel) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    const NTSTATUS status = KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero);
    KeLowerIrql(old);
    EXPECT_EQ(status, STATUS_TIMEOUT);
}

TEST_F(IrqlTest, DelayAtDispatchLevelIsReported) {
    LARGE_INTEGER interval;
    interval.QuadPart = -1;
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
    KeReleaseSpinLock(&lock, old);
    expectVerifierFailure("KeDelayExecutionThread would block");
}

TEST_F(IrqlTest, PassiveLevelServicesAtDispatchLevelAreReported) {
    DRIVER_OBJECT driver{};
    PDEVICE_OBJECT device = nullptr;
    const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    EXPECT_EQ(ZwClose(reinterpret_cast<HANDLE>(0x7FF0)), STATUS_INVALID_HANDLE);
    expectVerifierFailure("ZwClose called at IRQL 2; it requires PASSIVE_LEVEL");
    EXPECT_EQ(IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_KS, 0, FALSE, &device),
              STATUS_SUCCESS);
    expectVerifierFailure("IoCreateDevice called at IRQL 2");
    KeLowerIrql(old);
    IoDeleteDevice(device);
}

// ---------------------------------------------------------------- spin locks

TEST_F(IrqlTest, SpinLockRaisesToDispatchAndReleaseRestores) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    const KIRQL old = KeAcquireSpinLockRaiseToDpc(&lock);
    EXPECT_EQ(old, PASSIVE_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    EXPECT_NE(lock, 0u);
    KeReleaseSpinLock(&lock, old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    EXPECT_EQ(lock, 0u);
}

TEST_F(IrqlTest, AtDpcLevelVariantsKeepTheLevel) {
    KSPIN_LOCK outer, inner;
    KeInitializeSpinLock(&outer);
    KeInitializeSpinLock(&inner);
    const KIRQL old = KeAcquireSpinLockRaiseToDpc(&outer);
    KeAcquireSpinLockAtDpcLevel(&inner);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KeReleaseSpinLockFromDpcLevel(&inner);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KeReleaseSpinLock(&outer, old);
}

TEST_F(IrqlTest, AcquireAtDpcLevelFromPassiveIsReported) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KeAcquireSpinLockAtDpcLevel(&lock);
    expectVerifierFailure("requires DISPATCH_LEVEL");
    const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    KeReleaseSpinLockFromDpcLevel(&lock);
    KeLowerIrql(old);
}

TEST_F(IrqlTest, ReleasingLockNotHeldIsReported) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    KeReleaseSpinLock(&lock, old);
    expectVerifierFailure("not held");
}

TEST_F(IrqlTest, ReleasingLockHeldByAnotherThreadIsReported) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    const KIRQL old = KeAcquireSpinLockRaiseToDpc(&lock);
    std::thread other([&] {
        const KIRQL raised = KfRaiseIrql(DISPATCH_LEVEL);
        KeReleaseSpinLockFromDpcLevel(&lock);
        KeLowerIrql(raised);
    });
    other.join();
    expectVerifierFailure("held by another thread");
    KeReleaseSpinLock(&lock, old);
}

TEST_F(IrqlTest, RecursiveAcquireIsReportedInsteadOfHanging) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    const KIRQL old = KeAcquireSpinLockRaiseToDpc(&lock);
    KeAcquireSpinLockAtDpcLevel(&lock);
    expectVerifierFailure("deadlock");
    KeReleaseSpinLock(&lock, old);
}

TEST_F(IrqlTest, SpinLockExcludesOtherThreads) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    // Unprotected read-modify-write under the lock: lost updates (and the thread sanitizer)
    // would show any gap in mutual exclusion.
    long counter = 0;
    constexpr int kPerThread = 20000;
    auto work = [&] {
        for (int i = 0; i < kPerThread; ++i) {
            KIRQL old;
            KeAcquireSpinLock(&lock, &old);
            counter = counter + 1;
            KeReleaseSpinLock(&lock, old);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 2L * kPerThread);
}

}  // namespace
}  // namespace bayercam::host
