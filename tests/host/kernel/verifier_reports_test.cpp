// Misuse of the kernel services a driver fault would commit is reported as a verifier would
// report it, and the stand-in stays usable afterwards: one case per check, each undoing what it
// set up.
#include <functional>
#include <optional>
#include <thread>

#include "host/kernel/pool.h"
#include "tests/host/kernel/test_driver.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

using testing::completeWith;
using testing::holdPending;

constexpr ULONG kTag = pool::makeTag("KCNw");

NTSTATUS keep(PDEVICE_OBJECT, PIRP, PVOID) { return STATUS_MORE_PROCESSING_REQUIRED; }
VOID leaveRaised(PVOID) { KfRaiseIrql(DISPATCH_LEVEL); }

class VerifierReports : public testing::KernelTest {
  protected:
    void TearDown() override {
        devices_.reset();
        KernelTest::TearDown();
    }

  public:
    PDEVICE_OBJECT device(testing::Handler handler) { return devices_->addDevice(handler); }

    std::optional<testing::TestDriver> devices_{std::in_place};
};

struct Misuse {
    const char* report;
    std::function<void(VerifierReports&)> act;
};

// Runs `act` at dispatch level.
template <class Act>
void raised(Act act) {
    const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    act();
    KeLowerIrql(old);
}

const Misuse kMisuses[] = {
    // pool
    {"freed with tag 'Qvbz' but allocated with tag 'KCNw'",
     [](auto&) {
         ExFreePoolWithTag(ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag), pool::makeTag("Qvbz"));
     }},
    {"double free",
     [](auto&) {
         void* p = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag);
         ExFreePool(p);
         ExFreePool(p);
     }},
    {"zero bytes",
     [](auto&) { EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPoolNx, 0, kTag), nullptr); }},
    {"DISPATCH_LEVEL",
     [](auto&) {
         void* p = nullptr;
         raised([&] { p = ExAllocatePoolWithTag(PagedPool, 8, kTag); });
         ExFreePool(p);
     }},
    // IRQL and spin locks
    {"KeWaitForSingleObject would block at IRQL 2",
     [](auto&) {
         KEVENT event;
         KeInitializeEvent(&event, NotificationEvent, TRUE);
         LARGE_INTEGER timeout{.QuadPart = -10'000};
         raised([&] { KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout); });
     }},
    {"KeDelayExecutionThread would block",
     [](auto&) {
         LARGE_INTEGER interval{.QuadPart = -1};
         raised([&] { KeDelayExecutionThread(KernelMode, FALSE, &interval); });
     }},
    {"ZwClose called at IRQL 2; it requires PASSIVE_LEVEL",
     [](auto&) { raised([] { ZwClose(reinterpret_cast<HANDLE>(0x7FF0)); }); }},
    {"not held",
     [](auto&) {
         KSPIN_LOCK lock;
         KeInitializeSpinLock(&lock);
         KeReleaseSpinLock(&lock, KfRaiseIrql(DISPATCH_LEVEL));
     }},
    {"held by another thread",
     [](auto&) {
         KSPIN_LOCK lock;
         KeInitializeSpinLock(&lock);
         const KIRQL old = KeAcquireSpinLockRaiseToDpc(&lock);
         std::thread([&] { KeReleaseSpinLock(&lock, KfRaiseIrql(DISPATCH_LEVEL)); }).join();
         KeReleaseSpinLock(&lock, old);
     }},
    {"deadlock",
     [](auto&) {
         KSPIN_LOCK lock;
         KeInitializeSpinLock(&lock);
         const KIRQL old = KeAcquireSpinLockRaiseToDpc(&lock);
         KeAcquireSpinLockRaiseToDpc(&lock);
         KeReleaseSpinLock(&lock, old);
     }},
    // events and waits
    {"absolute time-out",
     [](auto&) {
         KEVENT event;
         KeInitializeEvent(&event, NotificationEvent, FALSE);
         LARGE_INTEGER absolute{.QuadPart = 1};
         EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &absolute),
                   STATUS_INVALID_PARAMETER);
     }},
    // requests
    {"still in a driver's hands",
     [](VerifierReports& t) {
         static PIRP held = nullptr;
         PDEVICE_OBJECT device = t.device(holdPending(held));
         PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
         IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
         IoSetCompletionRoutine(irp, keep, nullptr, TRUE, TRUE, TRUE);
         IoCallDriver(device, irp);
         IoFreeIrp(irp);  // refused: the request is not freed
         IoCompleteRequest(held, IO_NO_INCREMENT);
         IoFreeIrp(irp);
     }},
    {"must return STATUS_MORE_PROCESSING_REQUIRED",
     [](VerifierReports& t) {
         PDEVICE_OBJECT device = t.device(completeWith(STATUS_SUCCESS));
         PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
         IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
         IoCallDriver(device, irp);
         IoFreeIrp(irp);
     }},
    {"not a live request",
     [](auto&) {
         PIRP irp = IoAllocateIrp(1, FALSE);
         IoFreeIrp(irp);
         IoFreeIrp(irp);
     }},
    {"complete it with IoCompleteRequest instead",
     [](VerifierReports& t) {
         KEVENT event;
         IO_STATUS_BLOCK status{};
         KeInitializeEvent(&event, NotificationEvent, FALSE);
         IoFreeIrp(IoBuildDeviceIoControlRequest(
             CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_NEITHER, FILE_ANY_ACCESS),
             t.device(completeWith(STATUS_SUCCESS)), nullptr, 0, nullptr, 0, TRUE, &event,
             &status));
     }},
    // MDLs
    {"lies outside the source MDL",
     [](auto&) {
         static unsigned char buffer[3 * PAGE_SIZE];
         PMDL source = IoAllocateMdl(buffer + 100, 2 * PAGE_SIZE, FALSE, FALSE, nullptr);
         PMDL partial = IoAllocateMdl(buffer + 100, 2 * PAGE_SIZE, FALSE, FALSE, nullptr);
         IoBuildPartialMdl(source, partial, buffer + 100 + PAGE_SIZE, PAGE_SIZE + 1);
         IoFreeMdl(partial);
         IoFreeMdl(source);
     }},
    {"target MDL is too small",
     [](auto&) {
         static unsigned char buffer[3 * PAGE_SIZE];
         PMDL source = IoAllocateMdl(buffer, 3 * PAGE_SIZE, FALSE, FALSE, nullptr);
         PMDL small = IoAllocateMdl(buffer, PAGE_SIZE, FALSE, FALSE, nullptr);
         IoBuildPartialMdl(source, small, buffer, 2 * PAGE_SIZE);
         IoFreeMdl(small);
         IoFreeMdl(source);
     }},
    {"neither built for nonpaged pool nor mapped",
     [](auto&) {
         static unsigned char buffer[64];
         PMDL mdl = IoAllocateMdl(buffer, sizeof buffer, FALSE, FALSE, nullptr);
         EXPECT_EQ(MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority), nullptr);
         IoFreeMdl(mdl);
     }},
    {"not a live MDL",
     [](auto&) {
         static unsigned char buffer[64];
         PMDL mdl = IoAllocateMdl(buffer, sizeof buffer, FALSE, FALSE, nullptr);
         IoFreeMdl(mdl);
         IoFreeMdl(mdl);
     }},
    // threads and objects
    {"system thread ended at IRQL 2",
     [](auto&) {
         HANDLE handle = nullptr;
         PVOID thread = nullptr;
         PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, leaveRaised,
                              nullptr);
         ObReferenceObjectByHandle(handle, 0, *PsThreadType, KernelMode, &thread, nullptr);
         ZwClose(handle);
         KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
         ObDereferenceObject(thread);
     }},
};

TEST_F(VerifierReports, EveryMisuseIsReportedOnceAndTheStandInGoesOn) {
    for (const Misuse& misuse : kMisuses) {
        SCOPED_TRACE(misuse.report);
        misuse.act(*this);
        expectVerifierFailure(misuse.report);
        EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    }
}

}  // namespace
}  // namespace bayercam::host
