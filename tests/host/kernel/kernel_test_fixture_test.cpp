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
    void run(void (*body)()) {
        SetUp();
        body();
        TearDown();
    }
};

constexpr ULONG kLeakTag = pool::makeTag("Lk01");
unsigned char mdlTarget[64];
void* leakedBlock = nullptr;
PIRP leakedIrp = nullptr;
PMDL leakedMdl = nullptr;

// gtest's failure-catching macros accept only statements that use no locals.
struct Leftover {
    void (*body)();
    void (*cleanUp)();
    const char* verdict;
};
const Leftover* current = nullptr;

const Leftover kLeftovers[] = {
    {[] { leakedBlock = ExAllocatePoolWithTag(NonPagedPoolNx, 24, kLeakTag); },
     [] { ExFreePoolWithTag(leakedBlock, kLeakTag); },
     "tag 'Lk01': 1 blocks, 24 bytes live (was 0 blocks, 0 bytes)"},
    {[] { leakedIrp = IoAllocateIrp(1, FALSE); }, [] { IoFreeIrp(leakedIrp); },
     "IRPs: 1 live (expected 0)"},
    {[] { leakedMdl = IoAllocateMdl(mdlTarget, sizeof mdlTarget, FALSE, FALSE, nullptr); },
     [] { IoFreeMdl(leakedMdl); }, "MDLs: 1 live (expected 0)"},
    {[] { ExFreePool(nullptr); }, [] {}, "1 unexpected verifier failure(s)"},
    {[] { KfRaiseIrql(DISPATCH_LEVEL); }, [] {}, "ends at IRQL 2"},
};

using KernelTestFixtureTest = testing::KernelTest;

TEST_F(KernelTestFixtureTest, WhatATestLeavesBehindFailsIt) {
    for (const Leftover& leftover : kLeftovers) {
        current = &leftover;
        EXPECT_NONFATAL_FAILURE(Probe().run(current->body), current->verdict);
        leftover.cleanUp();
        EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL) << "the fixture lowered it again";
    }
    Probe().run([] { ExFreePool(ExAllocatePoolWithTag(NonPagedPoolNx, 24, kLeakTag)); });
}

}  // namespace
}  // namespace bayercam::host
