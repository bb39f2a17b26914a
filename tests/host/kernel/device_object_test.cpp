// Device objects and their stacks, and MDLs over driver buffers.
#include "host/kernel/device_object.h"

#include <vector>

#include "host/kernel/failure_injection.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

using DeviceObjectTest = testing::KernelTest;

TEST_F(DeviceObjectTest, DevicesStartZeroedAndStackInOrder) {
    DRIVER_OBJECT driver{};
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"\\Device\\Camera0");
    PDEVICE_OBJECT bottom = nullptr, middle = nullptr, top = nullptr, again = nullptr;
    ASSERT_EQ(IoCreateDevice(&driver, 100, &name, FILE_DEVICE_KS, 0, FALSE, &bottom),
              STATUS_SUCCESS);
    EXPECT_EQ(IoCreateDevice(&driver, 0, &name, FILE_DEVICE_KS, 0, FALSE, &again),
              STATUS_OBJECT_NAME_COLLISION);
    injection::failNth(1);
    EXPECT_EQ(IoCreateDevice(&driver, 8, nullptr, FILE_DEVICE_KS, 0, FALSE, &again),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(bottom->DeviceExtension) % 16, 0u);
    EXPECT_EQ(
        std::vector<unsigned char>(static_cast<unsigned char*>(bottom->DeviceExtension),
                                   static_cast<unsigned char*>(bottom->DeviceExtension) + 100),
        std::vector<unsigned char>(100, 0));
    ASSERT_EQ(IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_KS, 0, FALSE, &middle),
              STATUS_SUCCESS);
    ASSERT_EQ(IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_KS, 0, FALSE, &top), STATUS_SUCCESS);
    EXPECT_EQ(IoAttachDeviceToDeviceStack(middle, bottom), bottom);
    EXPECT_EQ(IoAttachDeviceToDeviceStack(top, bottom), middle) << "attach lands on the top";
    EXPECT_EQ(top->StackSize, 3);
    EXPECT_EQ(devices::lowerDeviceOf(top), middle);
    IoDetachDevice(middle);
    IoDetachDevice(bottom);
    for (PDEVICE_OBJECT device : {top, middle, bottom}) IoDeleteDevice(device);
    EXPECT_EQ(driver.DeviceObject, nullptr);
}

// A frame buffer read in chunks: each partial MDL maps its own part of the source, a zero length
// takes the rest, and MDLs for one request chain behind its first.
TEST_F(DeviceObjectTest, PartialMdlsMapTheirPartOfTheSource) {
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
