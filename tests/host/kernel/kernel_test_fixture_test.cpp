// The leak-checking fixture must itself fail a test that leaves something behind.
#include <gtest/gtest-spi.h>

#include "host/kernel/pool.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

// A fixture instance driven by hand, so its verdict can be caught as a non-fatal failure.
class Probe : public testing::KernelTest {
  public:
    Probe() { leakPatience_ = std::chrono::milliseconds(0); }
    void TestBody() override {}
    void begin() { SetUp(); }
    void end() { TearDown(); }
};

constexpr ULONG kLeakTag = pool::makeTag("Lk01");

// gtest's failure-catching macros accept only statements that use no locals.
void* leakedBlock = nullptr;
PIRP leakedIrp = nullptr;
PMDL leakedMdl = nullptr;
unsigned char mdlTarget[64];

using KernelTestFixtureTest = testing::KernelTest;

TEST_F(KernelTestFixtureTest, LeakedPoolBlockFailsTheTestNamingItsTag) {
    EXPECT_NONFATAL_FAILURE(
        {
            Probe probe;
            probe.begin();
            leakedBlock = ExAllocatePoolWithTag(NonPagedPoolNx, 24, kLeakTag);
            probe.end();
        },
        "tag 'Lk01': 1 blocks, 24 bytes live (was 0 blocks, 0 bytes)");
    ExFreePoolWithTag(leakedBlock, kLeakTag);
}

TEST_F(KernelTestFixtureTest, LeakedRequestAndMdlFailTheTest) {
    EXPECT_NONFATAL_FAILURE(
        {
            Probe probe;
            probe.begin();
            leakedIrp = IoAllocateIrp(1, FALSE);
            leakedMdl = IoAllocateMdl(mdlTarget, sizeof mdlTarget, FALSE, FALSE, nullptr);
            probe.end();
        },
        "IRPs: 1 live (expected 0)");
    IoFreeMdl(leakedMdl);
    IoFreeIrp(leakedIrp);
}

TEST_F(KernelTestFixtureTest, UnconsumedVerifierFailureFailsTheTest) {
    EXPECT_NONFATAL_FAILURE(
        {
            Probe probe;
            probe.begin();
            ExFreePool(nullptr);
            probe.end();
        },
        "1 unexpected verifier failure(s)");
}

TEST_F(KernelTestFixtureTest, RaisedIrqlAtTheEndFailsTheTestAndIsRestored) {
    EXPECT_NONFATAL_FAILURE(
        {
            Probe probe;
            probe.begin();
            KfRaiseIrql(DISPATCH_LEVEL);
            probe.end();
        },
        "ends at IRQL 2");
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST_F(KernelTestFixtureTest, CleanTestPasses) {
    Probe probe;
    probe.begin();
    void* block = ExAllocatePoolWithTag(NonPagedPoolNx, 24, kLeakTag);
    ExFreePoolWithTag(block, kLeakTag);
    probe.end();
}

}  // namespace
}  // namespace bayercam::host
