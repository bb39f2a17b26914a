#include <optional>
#include <thread>

#include "host/kernel/failure_injection.h"
#include "host/kernel/live_objects.h"
#include "tests/host/kernel/test_driver.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

constexpr ULONG kInternalControl =
    CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_NEITHER, FILE_ANY_ACCESS);

class DeviceIoControlTest : public testing::KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        KeInitializeEvent(&event_, NotificationEvent, FALSE);
        status_.Status = STATUS_PENDING;
        status_.Information = 0;
    }
    void TearDown() override {
        devices_.reset();
        KernelTest::TearDown();
    }

    PIRP build(PDEVICE_OBJECT device, PVOID input = nullptr, PVOID output = nullptr) {
        return IoBuildDeviceIoControlRequest(kInternalControl, device, input, 12, output, 34, TRUE,
                                             &event_, &status_);
    }

    KEVENT event_;
    IO_STATUS_BLOCK status_;
    std::optional<testing::TestDriver> devices_{std::in_place};
    testing::TestDriver& driver_ = *devices_;
};

TEST_F(DeviceIoControlTest, BuildsInternalControlOnTheNextLocation) {
    int input = 0, output = 0;
    PIO_STACK_LOCATION seen = nullptr;
    PDEVICE_OBJECT device = driver_.addDevice([&](PDEVICE_OBJECT, PIRP irp) {
        seen = IoGetCurrentIrpStackLocation(irp);
        EXPECT_EQ(seen->MajorFunction, IRP_MJ_INTERNAL_DEVICE_CONTROL);
        EXPECT_EQ(seen->Parameters.DeviceIoControl.IoControlCode, kInternalControl);
        EXPECT_EQ(seen->Parameters.DeviceIoControl.InputBufferLength, 12u);
        EXPECT_EQ(seen->Parameters.DeviceIoControl.OutputBufferLength, 34u);
        EXPECT_EQ(seen->Parameters.DeviceIoControl.Type3InputBuffer, &input);
        EXPECT_EQ(irp->UserBuffer, &output);
        return testing::completeWith(STATUS_SUCCESS)(nullptr, irp);
    });
    PIRP irp = build(device, &input, &output);
    ASSERT_NE(irp, nullptr);
    EXPECT_EQ(irp->StackCount, device->StackSize);
    IoCallDriver(device, irp);
    EXPECT_NE(seen, nullptr);
}

TEST_F(DeviceIoControlTest, ExternalControlUsesDeviceControlMajor) {
    UCHAR major = 0xFF;
    PDEVICE_OBJECT device = driver_.addDevice([&](PDEVICE_OBJECT, PIRP irp) {
        major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
        return testing::completeWith(STATUS_SUCCESS)(nullptr, irp);
    });
    PIRP irp = IoBuildDeviceIoControlRequest(kInternalControl, device, nullptr, 0, nullptr, 0,
                                             FALSE, &event_, &status_);
    IoCallDriver(device, irp);
    EXPECT_EQ(major, IRP_MJ_DEVICE_CONTROL);
}

TEST_F(DeviceIoControlTest, CompletionFillsStatusBlockSignalsEventAndFreesRequest) {
    struct Outcome {
        NTSTATUS status;
        ULONG_PTR information;
    };
    for (Outcome outcome : {Outcome{STATUS_SUCCESS, 42}, Outcome{STATUS_DEVICE_NOT_CONNECTED, 0}}) {
        KeClearEvent(&event_);
        PDEVICE_OBJECT device =
            driver_.addDevice(testing::completeWith(outcome.status, outcome.information));
        EXPECT_EQ(IoCallDriver(device, build(device)), outcome.status);
        EXPECT_EQ(status_.Status, outcome.status);
        EXPECT_EQ(status_.Information, outcome.information);
        EXPECT_EQ(KeReadStateEvent(&event_), 1);
        EXPECT_EQ(live::count(live::Kind::Irp), 0u);
    }
}

TEST_F(DeviceIoControlTest, PendingRequestCompletedOnAnotherThreadWakesTheWaiter) {
    std::thread completer;
    PDEVICE_OBJECT device = driver_.addDevice([&](PDEVICE_OBJECT, PIRP irp) {
        IoMarkIrpPending(irp);
        completer = std::thread([irp] {
            const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);  // completions run at dispatch level
            testing::completeWith(STATUS_SUCCESS, 7)(nullptr, irp);
            KeLowerIrql(old);
        });
        return STATUS_PENDING;
    });
    if (IoCallDriver(device, build(device)) == STATUS_PENDING) {
        EXPECT_EQ(KeWaitForSingleObject(&event_, Executive, KernelMode, FALSE, nullptr),
                  STATUS_SUCCESS);
    }
    EXPECT_EQ(status_.Status, STATUS_SUCCESS);
    EXPECT_EQ(status_.Information, 7u);
    completer.join();
}

TEST_F(DeviceIoControlTest, CreatorRoutineKeepingTheRequestFinishesItWithIoCompleteRequest) {
    PDEVICE_OBJECT device = driver_.addDevice(testing::completeWith(STATUS_SUCCESS, 5));
    PIRP irp = build(device);
    IoSetCompletionRoutine(
        irp,
        [](PDEVICE_OBJECT, PIRP, PVOID) -> NTSTATUS { return STATUS_MORE_PROCESSING_REQUIRED; },
        nullptr, TRUE, TRUE, TRUE);
    IoCallDriver(device, irp);
    EXPECT_EQ(KeReadStateEvent(&event_), 0) << "kept by its routine, not finished";
    EXPECT_EQ(live::count(live::Kind::Irp), 1u);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(KeReadStateEvent(&event_), 1);
    EXPECT_EQ(status_.Information, 5u);
}

TEST_F(DeviceIoControlTest, UnsentRequestIsReleasedByCompletingIt) {
    PDEVICE_OBJECT device = driver_.addDevice(testing::completeWith(STATUS_SUCCESS));
    PIRP irp = build(device);
    irp->IoStatus.Status = STATUS_CANCELLED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(status_.Status, STATUS_CANCELLED);
}

TEST_F(DeviceIoControlTest, FreeingBuiltRequestIsReported) {
    PDEVICE_OBJECT device = driver_.addDevice(testing::completeWith(STATUS_SUCCESS));
    IoFreeIrp(build(device));
    expectVerifierFailure("complete it with IoCompleteRequest instead");
}

TEST_F(DeviceIoControlTest, BufferedControlCodesAreReportedAsNotImplemented) {
    PDEVICE_OBJECT device = driver_.addDevice(testing::completeWith(STATUS_SUCCESS));
    const ULONG buffered = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
    EXPECT_EQ(IoBuildDeviceIoControlRequest(buffered, device, nullptr, 0, nullptr, 0, TRUE, &event_,
                                            &status_),
              nullptr);
    expectVerifierFailure("only METHOD_NEITHER");
}

TEST_F(DeviceIoControlTest, BuildFailsWithNullWhenOutOfMemory) {
    PDEVICE_OBJECT device = driver_.addDevice(testing::completeWith(STATUS_SUCCESS));
    injection::failNth(1);
    EXPECT_EQ(build(device), nullptr);
}

}  // namespace
}  // namespace bayercam::host
