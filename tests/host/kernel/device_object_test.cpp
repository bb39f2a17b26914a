#include "host/kernel/device_object.h"

#include "host/kernel/failure_injection.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

class DeviceObjectTest : public testing::KernelTest {
  protected:
    PDEVICE_OBJECT create(ULONG extensionSize, PUNICODE_STRING name = nullptr) {
        PDEVICE_OBJECT device = nullptr;
        EXPECT_EQ(IoCreateDevice(&driver_, extensionSize, name, FILE_DEVICE_KS, 0, FALSE, &device),
                  STATUS_SUCCESS);
        return device;
    }

    DRIVER_OBJECT driver_{};
};

TEST_F(DeviceObjectTest, CreatedDeviceHasZeroedExtensionAndStackSizeOne) {
    PDEVICE_OBJECT device = create(100);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->DriverObject, &driver_);
    EXPECT_EQ(device->StackSize, 1);
    EXPECT_EQ(device->DeviceType, static_cast<ULONG>(FILE_DEVICE_KS));
    EXPECT_TRUE(device->Flags & DO_DEVICE_INITIALIZING);
    ASSERT_NE(device->DeviceExtension, nullptr);
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(device->DeviceExtension) % 16, 0u);
    const auto* extension = static_cast<const unsigned char*>(device->DeviceExtension);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(extension[i], 0) << "extension byte " << i;
    EXPECT_TRUE(devices::isDeviceObject(device));
    IoDeleteDevice(device);
    EXPECT_FALSE(devices::isDeviceObject(device));
}

TEST_F(DeviceObjectTest, DevicesAreListedOnTheirDriverObject) {
    PDEVICE_OBJECT first = create(0);
    PDEVICE_OBJECT second = create(0);
    EXPECT_EQ(driver_.DeviceObject, second);
    EXPECT_EQ(second->NextDevice, first);
    IoDeleteDevice(second);
    EXPECT_EQ(driver_.DeviceObject, first);
    IoDeleteDevice(first);
    EXPECT_EQ(driver_.DeviceObject, nullptr);
}

TEST_F(DeviceObjectTest, DuplicateNameCollides) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"\\Device\\Camera0");
    PDEVICE_OBJECT device = create(0, &name);
    PDEVICE_OBJECT again = nullptr;
    EXPECT_EQ(IoCreateDevice(&driver_, 0, &name, FILE_DEVICE_KS, 0, FALSE, &again),
              STATUS_OBJECT_NAME_COLLISION);
    IoDeleteDevice(device);
}

TEST_F(DeviceObjectTest, CreationFailsWhenInjected) {
    injection::failNth(1);
    PDEVICE_OBJECT device = nullptr;
    EXPECT_EQ(IoCreateDevice(&driver_, 8, nullptr, FILE_DEVICE_KS, 0, FALSE, &device),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(driver_.DeviceObject, nullptr);
}

// ---------------------------------------------------------------- stacks

TEST_F(DeviceObjectTest, AttachGoesOnTopOfTheStack) {
    PDEVICE_OBJECT bottom = create(0);
    PDEVICE_OBJECT middle = create(0);
    PDEVICE_OBJECT top = create(0);
    EXPECT_EQ(IoAttachDeviceToDeviceStack(middle, bottom), bottom);
    EXPECT_EQ(middle->StackSize, 2);
    // Attaching to the bottom again lands on the current top.
    EXPECT_EQ(IoAttachDeviceToDeviceStack(top, bottom), middle);
    EXPECT_EQ(top->StackSize, 3);
    EXPECT_EQ(bottom->AttachedDevice, middle);
    EXPECT_EQ(middle->AttachedDevice, top);
    EXPECT_EQ(devices::lowerDeviceOf(top), middle);

    IoDetachDevice(middle);
    EXPECT_EQ(middle->AttachedDevice, nullptr);
    EXPECT_EQ(devices::lowerDeviceOf(top), nullptr);
    IoDetachDevice(bottom);
    IoDeleteDevice(top);
    IoDeleteDevice(middle);
    IoDeleteDevice(bottom);
}

TEST_F(DeviceObjectTest, DeletingAttachedDeviceIsReported) {
    PDEVICE_OBJECT lower = create(0);
    PDEVICE_OBJECT upper = create(0);
    IoAttachDeviceToDeviceStack(upper, lower);
    IoDeleteDevice(upper);
    expectVerifierFailure("call IoDetachDevice first");
    IoDetachDevice(lower);
    IoDeleteDevice(lower);
}

TEST_F(DeviceObjectTest, DetachWithNothingAttachedIsReported) {
    PDEVICE_OBJECT device = create(0);
    IoDetachDevice(device);
    expectVerifierFailure("no device attached");
    IoDeleteDevice(device);
}

TEST_F(DeviceObjectTest, DeletingUnknownDeviceIsReported) {
    DEVICE_OBJECT fake{};
    IoDeleteDevice(&fake);
    expectVerifierFailure("not a live device object");
}

}  // namespace
}  // namespace bayercam::host
