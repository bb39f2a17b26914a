// The tagged pool: accounting, fill patterns, the quarantine that catches
// writes after free, guard pages, and allocation-failure injection.
#include "host/kernel/pool.h"

#include <cstring>
#include <vector>

#include "host/kernel/failure_injection.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

constexpr ULONG kCameraTag = pool::makeTag("KCNw");
constexpr ULONG kUsbTag = pool::makeTag("Qvbz");

using PoolTest = testing::KernelTest;

// Allocates n blocks of the tag; returns which allocations (1-based) came back null.
std::vector<int> allocateAndFree(int n, ULONG tag) {
    std::vector<int> failed;
    for (int i = 1; i <= n; ++i) {
        void* p = ExAllocatePoolWithTag(NonPagedPoolNx, 16, tag);
        if (p == nullptr) {
            failed.push_back(i);
        } else {
            ExFreePoolWithTag(p, tag);
        }
    }
    return failed;
}

// Leak reports are checked with the fixture that makes them.
TEST_F(PoolTest, LiveBlocksAreAlignedFreshlyFilledAndCountedPerTag) {
    auto* a = static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 40, kUsbTag));
    void* b = ExAllocatePoolWithTag(NonPagedPoolNx, 24, kUsbTag);
    void* c = ExAllocatePoolWithTag(NonPagedPoolNx, 28, kCameraTag);
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(a) % 16, 0u);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(a[i], pool::kFreshFill) << "byte " << i;
    EXPECT_EQ(pool::usage(kUsbTag), (pool::TagUsage{2, 64}));
    for (void* p : {static_cast<void*>(a), b, c}) ExFreePool(p);
    EXPECT_EQ(pool::usage(kUsbTag), (pool::TagUsage{0, 0}));
}

// Small blocks, and a large one written only past its first pages and near its end.
TEST_F(PoolTest, FreedBlocksArePoisonedAndWritesAfterFreeAreReported) {
    const struct {
        SIZE_T bytes;
        SIZE_T written;
    } cases[] = {{32, 5}, {32, 31}, {3 * 4096 + 100, 8200}, {3 * 4096 + 100, 3 * 4096 + 99}};
    for (const auto& c : cases) {
        auto* p =
            static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, c.bytes, kUsbTag));
        std::memset(p, 0x11, c.bytes);
        ExFreePool(p);
        // The block sits in quarantine, still mapped, so the stand-in may look at it.
        EXPECT_EQ(p[c.written], pool::kFreedFill);
        p[c.written] = 0;  // the stale write a driver bug would make
        pool::flushQuarantine();
        expectVerifierFailure("written at offset " + std::to_string(c.written) +
                              " after it was freed");
    }
}

using PoolDeathTest = PoolTest;

// The whole block is usable; the first byte past it faults, and so does a use after free.
TEST_F(PoolDeathTest, GuardedBlocksFaultPastTheirEndAndAfterFree) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    pool::setGuardedTags({kUsbTag});
    auto* p =
        static_cast<volatile unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 64, kUsbTag));
    for (int i = 0; i < 64; ++i) p[i] = 0x22;
    EXPECT_DEATH(p[64] = 1, "");
    ExFreePoolWithTag(const_cast<unsigned char*>(p), kUsbTag);
    EXPECT_DEATH(p[0] = 1, "");
}

TEST_F(PoolTest, InjectedFailuresHitTheChosenAllocationOnce) {
    injection::failNth(3);
    EXPECT_EQ(allocateAndFree(6, kCameraTag), std::vector<int>{3});
    injection::failNthOfTag(kUsbTag, 2);
    EXPECT_EQ(allocateAndFree(4, kCameraTag), std::vector<int>{}) << "another tag never counts";
    EXPECT_EQ(allocateAndFree(4, kUsbTag), std::vector<int>{2});

    int seen = 0;
    // Only every other allocation counts: the 2nd counted one is the 4th made.
    injection::setCountFilter(std::make_shared<const injection::CountFilter>(
        [&seen](ULONG tag) { return tag == kCameraTag && ++seen % 2 == 0; }));
    injection::failNth(2);
    EXPECT_EQ(allocateAndFree(6, kCameraTag), std::vector<int>{4});
    injection::reset();
    injection::failNth(1);
    EXPECT_EQ(allocateAndFree(1, kUsbTag), std::vector<int>{1}) << "reset drops the filter";
    injection::reset();
    EXPECT_EQ(allocateAndFree(2, kUsbTag), std::vector<int>{}) << "reset disarms";
}

// A frame-read-like set-up: a slot table, a request and an MDL for it; every failure unwinds
// what was built.
NTSTATUS buildOneRead(void* buffer) {
    void* slots = ExAllocatePoolWithTag(NonPagedPoolNx, 64, kUsbTag);
    PIRP irp = slots ? IoAllocateIrp(2, FALSE) : nullptr;
    PMDL mdl = irp ? IoAllocateMdl(buffer, 4096, FALSE, FALSE, nullptr) : nullptr;
    if (mdl) IoFreeMdl(mdl);
    if (irp) IoFreeIrp(irp);
    if (slots) ExFreePoolWithTag(slots, kUsbTag);
    return mdl ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
}

TEST_F(PoolTest, TheWalkerFailsEveryAllocationSiteInTurnThenRunsClean) {
    std::vector<unsigned char> buffer(4096);
    std::vector<NTSTATUS> statuses;
    const std::size_t runs = injection::walkAllocationFailures([&](std::size_t) {
        const pool::Snapshot before = pool::snapshot();
        statuses.push_back(buildOneRead(buffer.data()));
        EXPECT_EQ(pool::leakReport(before), "") << "failure path leaked";
    });
    EXPECT_EQ(runs, 4u) << "slots, request, MDL, then a clean run";
    std::vector<NTSTATUS> expected(3, STATUS_INSUFFICIENT_RESOURCES);
    expected.push_back(STATUS_SUCCESS);
    EXPECT_EQ(statuses, expected);
    EXPECT_EQ(allocateAndFree(3, kCameraTag), std::vector<int>{}) << "the walker disarms";
}

}  // namespace
}  // namespace bayercam::host
