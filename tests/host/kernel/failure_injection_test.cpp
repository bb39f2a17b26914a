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

TEST_F(FailureInjectionTest, WalkerLeavesInjectionDisarmed) {
    injection::walkAllocationFailures([](std::size_t) { allocateAndFree(2, kCameraTag); });
    EXPECT_EQ(allocateAndFree(3, kCameraTag), std::vector<int>{});
}

}  // namespace
}  // namespace bayercam::host
