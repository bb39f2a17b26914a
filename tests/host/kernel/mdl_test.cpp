// MDLs over driver buffers. Device objects and their stacks are the class driver's, and its
// tests build them.
#include <vector>

#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

using MdlTest = testing::KernelTest;

// A frame buffer read in chunks: each partial MDL maps its own part of the source, a zero length
// takes the rest, and MDLs for one request chain behind its first.
TEST_F(MdlTest, PartialMdlsMapTheirPartOfTheSource) {
    constexpr ULONG kChunk = 64 * 1024;
    std::vector<unsigned char> storage(3 * kChunk + PAGE_SIZE);
    unsigned char* buffer = storage.data() + 100;  // pool blocks need not start on a page
    PMDL frame = IoAllocateMdl(buffer, 3 * kChunk, FALSE, FALSE, nullptr);
    MmBuildMdlForNonPagedPool(frame);
    EXPECT_EQ(MmGetSystemAddressForMdlSafe(frame, NormalPagePriority), buffer);
    PIRP irp = IoAllocateIrp(1, FALSE);
    std::vector<PMDL> parts;
    for (ULONG i = 0; i < 3; ++i) {
        unsigned char* chunk = buffer + i * kChunk;
        PMDL partial = IoAllocateMdl(chunk, kChunk, i > 0, FALSE, irp);
        IoBuildPartialMdl(frame, partial, chunk, i == 2 ? 0 : kChunk);
        EXPECT_EQ(MmGetMdlByteCount(partial), kChunk) << "chunk " << i;
        EXPECT_EQ(MmGetSystemAddressForMdlSafe(partial, NormalPagePriority), chunk) << i;
        parts.push_back(partial);
    }
    EXPECT_EQ(irp->MdlAddress, parts[0]);
    EXPECT_EQ(parts[0]->Next, parts[1]);
    EXPECT_EQ(parts[1]->Next, parts[2]);
    for (PMDL mdl : parts) IoFreeMdl(mdl);
    irp->MdlAddress = nullptr;
    IoFreeMdl(frame);
    IoFreeIrp(irp);
}

}  // namespace
}  // namespace bayercam::host
