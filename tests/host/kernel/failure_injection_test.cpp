#include "host/kernel/failure_injection.h"

#include <vector>

#include "host/kernel/pool.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

constexpr ULONG kCameraTag = pool::makeTag("KCNw");
constexpr ULONG kUsbTag = pool::makeTag("Qvbz");

using FailureInjectionTest = testing::KernelTest;

// Allocates n blocks of the tag; returns which allocations (1-based) came back null.
std::vector<int> allocateAndFree(int n, ULONG tag) {
    std::vector<int> failed;
    for (int i = 1; i <= n; ++i) {
        void* p = ExAllocatePoolWithTag(NonPagedPoolNx, 16, tag);
        if (!p)
            failed.push_back(i);
        else
            ExFreePoolWithTag(p, tag);
    }
    return failed;
}

TEST_F(FailureInjectionTest, NthAllocationFailsOnce) {
    injection::failNth(3);
    EXPECT_EQ(allocateAndFree(6, kCameraTag), std::vector<int>{3});
    EXPECT_EQ(injection::injectedCount(), 1u);
}

TEST_F(FailureInjectionTest, NthOfTagCountsOnlyThatTag) {
    injection::failNthOfTag(kUsbTag, 2);
    EXPECT_EQ(allocateAndFree(4, kCameraTag), std::vector<int>{});
    EXPECT_EQ(allocateAndFree(4, kUsbTag), std::vector<int>{2});
}

TEST_F(FailureInjectionTest, ResetDisarms) {
    injection::failNth(1);
    injection::reset();
    EXPECT_EQ(allocateAndFree(2, kCameraTag), std::vector<int>{});
    EXPECT_EQ(injection::injectedCount(), 0u);
}

TEST_F(FailureInjectionTest, CountFilterChoosesWhichAllocationsCount) {
    int seen = 0;
    // Only every other allocation counts: the 2nd counted one is the 4th made.
    injection::setCountFilter(std::make_shared<const injection::CountFilter>(
        [&seen](ULONG tag) { return tag == kCameraTag && ++seen % 2 == 0; }));
    injection::failNth(2);
    EXPECT_EQ(allocateAndFree(3, kUsbTag), std::vector<int>{}) << "another tag never counts";
    EXPECT_EQ(allocateAndFree(6, kCameraTag), std::vector<int>{4});
    EXPECT_EQ(seen, 4) << "the filter is asked only while a failure is armed";
    injection::reset();
    injection::failNth(1);
    EXPECT_EQ(allocateAndFree(1, kUsbTag), std::vector<int>{1}) << "reset drops the filter";
}

// A small operation in driver style: three blocks, each failure unwinding what was built.
struct Built {
    void* header = nullptr;
    void* table = nullptr;
    void* buffer = nullptr;
};

NTSTATUS buildThree(Built& out) {
    out.header = ExAllocatePoolWithTag(NonPagedPoolNx, 32, kCameraTag);
    if (!out.header) return STATUS_INSUFFICIENT_RESOURCES;
    out.table = ExAllocatePoolWithTag(NonPagedPoolNx, 64, kUsbTag);
    if (!out.table) {
        ExFreePoolWithTag(out.header, kCameraTag);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    out.buffer = ExAllocatePoolWithTag(NonPagedPoolNx, 128, kUsbTag);
    if (!out.buffer) {
        ExFreePoolWithTag(out.table, kUsbTag);
        ExFreePoolWithTag(out.header, kCameraTag);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return STATUS_SUCCESS;
}

TEST_F(FailureInjectionTest, WalkerFailsEachAllocationInTurnThenRunsClean) {
    std::vector<NTSTATUS> statuses;
    const std::size_t runs = injection::walkAllocationFailures([&](std::size_t) {
        const pool::Snapshot before = pool::snapshot();
        Built built;
        const NTSTATUS status = buildThree(built);
        statuses.push_back(status);
        if (NT_SUCCESS(status)) {
            ExFreePoolWithTag(built.buffer, kUsbTag);
            ExFreePoolWithTag(built.table, kUsbTag);
            ExFreePoolWithTag(built.header, kCameraTag);
        }
        EXPECT_EQ(pool::leakReport(before), "") << "failure path leaked";
    });
    EXPECT_EQ(runs, 4u);
    EXPECT_EQ(statuses,
              (std::vector<NTSTATUS>{STATUS_INSUFFICIENT_RESOURCES, STATUS_INSUFFICIENT_RESOURCES,
                                     STATUS_INSUFFICIENT_RESOURCES, STATUS_SUCCESS}));
}

// A frame-read-like operation: a slot table, a request, an MDL for it and a completion
// context; every failure unwinds what was built.
NTSTATUS keepRequest(PDEVICE_OBJECT, PIRP, PVOID) { return STATUS_MORE_PROCESSING_REQUIRED; }

NTSTATUS postOneRead(PDEVICE_OBJECT device, void* buffer) {
    void* slots = ExAllocatePoolWithTag(NonPagedPoolNx, 64, kUsbTag);
    if (!slots) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    if (irp) {
        PMDL mdl = IoAllocateMdl(buffer, 4096, FALSE, FALSE, irp);
        if (mdl) {
            status = IoSetCompletionRoutineEx(device, irp, keepRequest, nullptr, TRUE, TRUE, TRUE);
            if (NT_SUCCESS(status)) {
                IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
                status = IoCallDriver(device, irp);
            }
            IoFreeMdl(mdl);
            irp->MdlAddress = nullptr;
        }
        IoFreeIrp(irp);
    }
    ExFreePoolWithTag(slots, kUsbTag);
    return status;
}

NTSTATUS completeAtOnce(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

TEST_F(FailureInjectionTest, WalkerCoversRequestsMdlsAndCompletionContexts) {
    DRIVER_OBJECT driver{};
    for (auto& entry : driver.MajorFunction) entry = completeAtOnce;
    PDEVICE_OBJECT device = nullptr;
    ASSERT_EQ(IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device),
              STATUS_SUCCESS);
    std::vector<unsigned char> buffer(4096);
    std::vector<NTSTATUS> statuses;
    const std::size_t runs = injection::walkAllocationFailures(
        [&](std::size_t) { statuses.push_back(postOneRead(device, buffer.data())); });
    EXPECT_EQ(runs, 5u) << "slots, request, MDL, completion context, then a clean run";
    EXPECT_EQ(statuses,
              (std::vector<NTSTATUS>{STATUS_INSUFFICIENT_RESOURCES, STATUS_INSUFFICIENT_RESOURCES,
                                     STATUS_INSUFFICIENT_RESOURCES, STATUS_INSUFFICIENT_RESOURCES,
                                     STATUS_SUCCESS}));
    IoDeleteDevice(device);
}

TEST_F(FailureInjectionTest, WalkerLeavesInjectionDisarmed) {
    injection::walkAllocationFailures([](std::size_t) { allocateAndFree(2, kCameraTag); });
    EXPECT_EQ(allocateAndFree(3, kCameraTag), std::vector<int>{});
}

}  // namespace
}  // namespace bayercam::host
