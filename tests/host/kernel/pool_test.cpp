#include "host/kernel/pool.h"

#include <cstring>

#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

constexpr ULONG kCameraTag = pool::makeTag("KCNw");
constexpr ULONG kUsbTag = pool::makeTag("Qvbz");

using PoolTest = testing::KernelTest;

TEST_F(PoolTest, TagIsFourCharactersInMemoryOrder) {
    const ULONG tag = pool::makeTag("Tgno");
    EXPECT_EQ(std::memcmp(&tag, "Tgno", 4), 0);
    EXPECT_EQ(pool::tagName(tag), "Tgno");
    EXPECT_EQ(pool::tagName(0x00414243), "CBA.");
}

// ---------------------------------------------------------------- accounting

TEST_F(PoolTest, CountsLiveBlocksAndBytesPerTag) {
    void* a = ExAllocatePoolWithTag(NonPagedPoolNx, 100, kCameraTag);
    void* b = ExAllocatePoolWithTag(NonPagedPoolNx, 28, kCameraTag);
    void* c = ExAllocatePoolWithTag(NonPagedPoolNx, 64, kUsbTag);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(pool::usage(kCameraTag), (pool::TagUsage{2, 128}));
    EXPECT_EQ(pool::usage(kUsbTag), (pool::TagUsage{1, 64}));
    ExFreePoolWithTag(b, kCameraTag);
    EXPECT_EQ(pool::usage(kCameraTag), (pool::TagUsage{1, 100}));
    ExFreePool(a);
    ExFreePoolWithTag(c, kUsbTag);
    EXPECT_EQ(pool::usage(kCameraTag), pool::TagUsage{});
    EXPECT_EQ(pool::usage(kUsbTag), pool::TagUsage{});
}

TEST_F(PoolTest, BlocksAreAlignedAndFilledWithFreshPattern) {
    auto* p = static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 40, kUsbTag));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(p) % 16, 0u);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(p[i], pool::kFreshFill) << "byte " << i;
    ExFreePoolWithTag(p, kUsbTag);
}

TEST_F(PoolTest, LeakReportNamesTagsThatGrew) {
    const pool::Snapshot before = pool::snapshot();
    void* a = ExAllocatePoolWithTag(NonPagedPoolNx, 48, kUsbTag);
    void* b = ExAllocatePoolWithTag(NonPagedPoolNx, 16, kUsbTag);
    const std::string report = pool::leakReport(before);
    EXPECT_NE(report.find("'Qvbz': 2 blocks, 64 bytes"), std::string::npos) << report;
    EXPECT_EQ(report.find("KCNw"), std::string::npos) << report;
    ExFreePool(a);
    ExFreePool(b);
    EXPECT_EQ(pool::leakReport(before), "");
}

// ---------------------------------------------------------------- misuse

TEST_F(PoolTest, FreeWithWrongTagIsReported) {
    void* p = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kCameraTag);
    ExFreePoolWithTag(p, kUsbTag);
    expectVerifierFailure("freed with tag 'Qvbz' but allocated with tag 'KCNw'");
    EXPECT_EQ(pool::usage(kCameraTag), pool::TagUsage{});
}

TEST_F(PoolTest, DoubleFreeIsReported) {
    void* p = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kCameraTag);
    ExFreePool(p);
    ExFreePool(p);
    expectVerifierFailure("double free");
}

TEST_F(PoolTest, FreeOfForeignAddressIsReported) {
    int local = 0;
    ExFreePool(&local);
    expectVerifierFailure("not a pool block");
}

TEST_F(PoolTest, ZeroByteAllocationIsReportedAndFails) {
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPoolNx, 0, kCameraTag), nullptr);
    expectVerifierFailure("zero bytes");
}

TEST_F(PoolTest, PagedPoolAtDispatchLevelIsReported) {
    const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
    void* p = ExAllocatePoolWithTag(PagedPool, 8, kCameraTag);
    KeLowerIrql(old);
    ExFreePool(p);
    expectVerifierFailure("DISPATCH_LEVEL");
}

TEST_F(PoolTest, DriverFreeOfSystemObjectIsRefused) {
    const ULONG irpTag = pool::makeTag("Irp ");
    void* object = pool::allocateSystem(32, irpTag);
    ExFreePool(object);
    expectVerifierFailure("I/O manager object");
    EXPECT_EQ(pool::usage(irpTag).blocks, 1u);
    pool::freeSystem(object, irpTag);
}

// ---------------------------------------------------------------- poisoning and quarantine

TEST_F(PoolTest, FreedMemoryIsPoisoned) {
    auto* p = static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 32, kUsbTag));
    std::memset(p, 0x11, 32);
    ExFreePool(p);
    // The block sits in quarantine, still mapped, so the stand-in may look at it.
    for (int i = 0; i < 32; ++i) ASSERT_EQ(p[i], pool::kFreedFill) << "byte " << i;
}

TEST_F(PoolTest, WriteAfterFreeIsReportedWhenQuarantineEnds) {
    // Small blocks, and a large one written only past its first pages and near its end.
    const struct {
        SIZE_T bytes;
        SIZE_T written;
    } cases[] = {{32, 5}, {32, 31}, {3 * 4096 + 100, 8200}, {3 * 4096 + 100, 3 * 4096 + 99}};
    for (const auto& c : cases) {
        auto* p =
            static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, c.bytes, kUsbTag));
        ExFreePool(p);
        p[c.written] = 0;  // the stale write a driver bug would make
        pool::flushQuarantine();
        expectVerifierFailure("written at offset " + std::to_string(c.written) +
                              " after it was freed");
    }
}

// ---------------------------------------------------------------- guard pages

using PoolDeathTest = PoolTest;

// The whole block is usable; the first byte past it faults.
TEST_F(PoolDeathTest, GuardedBlockEndsAgainstInaccessiblePage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    pool::setGuardedTags({kUsbTag});
    auto* p =
        static_cast<volatile unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 64, kUsbTag));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i) p[i] = 0x22;
    EXPECT_EQ(pool::usage(kUsbTag), (pool::TagUsage{1, 64}));
    EXPECT_DEATH(p[64] = 1, "");
    ExFreePoolWithTag(const_cast<unsigned char*>(p), kUsbTag);
}

TEST_F(PoolDeathTest, UseAfterFreeOfGuardedBlockFaults) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    pool::setGuardedTags({kUsbTag});
    auto* p =
        static_cast<volatile unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 64, kUsbTag));
    ExFreePoolWithTag(const_cast<unsigned char*>(p), kUsbTag);
    EXPECT_DEATH(p[0] = 1, "");
}

}  // namespace
}  // namespace bayercam::host
