#include "host/kernel/mdl.h"

#include <vector>

#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

constexpr ULONG kChunk = 64 * 1024;

class MdlTest : public testing::KernelTest {
  protected:
    // A buffer that does not start on a page boundary, as a pool block may not.
    unsigned char* buffer() { return storage_.data() + 100; }

    std::vector<unsigned char> storage_ = std::vector<unsigned char>(3 * kChunk + PAGE_SIZE);
};

TEST_F(MdlTest, AllocatedMdlDescribesTheVirtualRange) {
    PMDL mdl = IoAllocateMdl(buffer(), 3 * kChunk, FALSE, FALSE, nullptr);
    ASSERT_NE(mdl, nullptr);
    EXPECT_EQ(MmGetMdlVirtualAddress(mdl), buffer());
    EXPECT_EQ(MmGetMdlByteCount(mdl), 3 * kChunk);
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(mdl->StartVa) % PAGE_SIZE, 0u);
    EXPECT_EQ(static_cast<unsigned char*>(mdl->StartVa) + mdl->ByteOffset, buffer());
    EXPECT_TRUE(mdls::isMdl(mdl));
    IoFreeMdl(mdl);
    EXPECT_FALSE(mdls::isMdl(mdl));
}

TEST_F(MdlTest, OnlyNonPagedMdlHasSystemAddress) {
    PMDL mdl = IoAllocateMdl(buffer(), kChunk, FALSE, FALSE, nullptr);
    EXPECT_EQ(MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority), nullptr);
    expectVerifierFailure("neither built for nonpaged pool nor mapped");
    MmBuildMdlForNonPagedPool(mdl);
    EXPECT_TRUE(mdl->MdlFlags & MDL_SOURCE_IS_NONPAGED_POOL);
    EXPECT_EQ(MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority), buffer());
    IoFreeMdl(mdl);
}

// ---------------------------------------------------------------- partial MDLs

TEST_F(MdlTest, PartialMdlMapsSubRangeOfTheSource) {
    PMDL frame = IoAllocateMdl(buffer(), 3 * kChunk, FALSE, FALSE, nullptr);
    MmBuildMdlForNonPagedPool(frame);
    for (ULONG i = 0; i < 3; ++i) {
        unsigned char* chunk = buffer() + i * kChunk;
        PMDL partial = IoAllocateMdl(chunk, kChunk, FALSE, FALSE, nullptr);
        IoBuildPartialMdl(frame, partial, chunk, kChunk);
        EXPECT_TRUE(partial->MdlFlags & MDL_PARTIAL);
        EXPECT_EQ(MmGetMdlVirtualAddress(partial), chunk) << "chunk " << i;
        EXPECT_EQ(MmGetMdlByteCount(partial), kChunk);
        EXPECT_EQ(MmGetSystemAddressForMdlSafe(partial, NormalPagePriority), chunk)
            << "chunk " << i;
        IoFreeMdl(partial);
    }
    IoFreeMdl(frame);
}

TEST_F(MdlTest, PartialWithZeroLengthTakesTheRestOfTheSource) {
    PMDL frame = IoAllocateMdl(buffer(), 3 * kChunk, FALSE, FALSE, nullptr);
    MmBuildMdlForNonPagedPool(frame);
    PMDL partial = IoAllocateMdl(buffer() + kChunk, 2 * kChunk, FALSE, FALSE, nullptr);
    IoBuildPartialMdl(frame, partial, buffer() + kChunk, 0);
    EXPECT_EQ(MmGetMdlByteCount(partial), 2 * kChunk);
    IoFreeMdl(partial);
    IoFreeMdl(frame);
}

TEST_F(MdlTest, PartialOutsideTheSourceIsReported) {
    PMDL frame = IoAllocateMdl(buffer(), 2 * kChunk, FALSE, FALSE, nullptr);
    MmBuildMdlForNonPagedPool(frame);
    PMDL partial = IoAllocateMdl(buffer() + kChunk, 2 * kChunk, FALSE, FALSE, nullptr);
    IoBuildPartialMdl(frame, partial, buffer() + kChunk, kChunk + 1);
    expectVerifierFailure("lies outside the source MDL");
    IoBuildPartialMdl(frame, partial, buffer() - 1, 10);
    expectVerifierFailure("lies outside the source MDL");
    IoFreeMdl(partial);
    IoFreeMdl(frame);
}

TEST_F(MdlTest, PartialIntoTooSmallTargetIsReported) {
    PMDL frame = IoAllocateMdl(buffer(), 3 * kChunk, FALSE, FALSE, nullptr);
    PMDL small = IoAllocateMdl(buffer(), PAGE_SIZE, FALSE, FALSE, nullptr);
    IoBuildPartialMdl(frame, small, buffer(), 2 * kChunk);
    expectVerifierFailure("target MDL is too small");
    IoFreeMdl(small);
    IoFreeMdl(frame);
}

// ---------------------------------------------------------------- requests and misuse

TEST_F(MdlTest, MdlForRequestBecomesItsMdlAndSecondaryOnesChain) {
    PIRP irp = IoAllocateIrp(1, FALSE);
    PMDL first = IoAllocateMdl(buffer(), kChunk, FALSE, FALSE, irp);
    EXPECT_EQ(irp->MdlAddress, first);
    PMDL second = IoAllocateMdl(buffer() + kChunk, kChunk, TRUE, FALSE, irp);
    PMDL third = IoAllocateMdl(buffer() + 2 * kChunk, kChunk, TRUE, FALSE, irp);
    EXPECT_EQ(irp->MdlAddress, first);
    EXPECT_EQ(first->Next, second);
    EXPECT_EQ(second->Next, third);
    IoFreeMdl(third);
    IoFreeMdl(second);
    IoFreeMdl(first);
    IoFreeIrp(irp);
}

TEST_F(MdlTest, DoubleFreeIsReported) {
    PMDL mdl = IoAllocateMdl(buffer(), kChunk, FALSE, FALSE, nullptr);
    IoFreeMdl(mdl);
    IoFreeMdl(mdl);
    expectVerifierFailure("not a live MDL");
}

}  // namespace
}  // namespace bayercam::host
