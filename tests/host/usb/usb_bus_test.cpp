// The USB bus stand-in itself: an abort waits only for what was queued before it, a request
// queued while the bus thread is busy is still moved, and requests the bus cannot serve are
// refused. Cancel, abort, stalls, unplugs and the chunked frame read are tested with the driver.
#include "host/usb/usb_bus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "driver/usb/usb_requests.h"
#include "platform/usb.h"
#include "sim/simulated_camera.h"
#include "tests/host/usb/holding_function.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host::testing {
namespace {

using namespace std::chrono_literals;

// One transfer or pipe request sent to the bus's physical device object through its own IRP
// without waiting, for tests that act while it is pending. The completion routine keeps the
// IRP and signals. It must have completed before destruction.
class PendingTransfer {
  public:
    // A bulk transfer of the buffer on the pipe, in or out by the direction flag.
    PendingTransfer(PDEVICE_OBJECT pdo, USBD_PIPE_HANDLE pipe, std::uint8_t* buffer, ULONG length,
                    bool in)
        : PendingTransfer(pdo, URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER, pipe) {
        UsbBuildInterruptOrBulkTransferRequest(
            &urb_, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER), pipe, buffer, nullptr, length,
            USBD_SHORT_TRANSFER_OK | (in ? USBD_TRANSFER_DIRECTION_IN : 0), nullptr);
    }
    // A pipe request (abort, reset).
    PendingTransfer(PDEVICE_OBJECT pdo, USHORT function, USBD_PIPE_HANDLE pipe)
        : pdo_(pdo), irp_(IoAllocateIrp(static_cast<CCHAR>(pdo->StackSize + 1), FALSE)) {
        KeInitializeEvent(&done_, NotificationEvent, FALSE);
        urb_.UrbPipeRequest.Hdr.Length = sizeof(_URB_PIPE_REQUEST);
        urb_.UrbPipeRequest.Hdr.Function = function;
        urb_.UrbPipeRequest.PipeHandle = pipe;
    }
    ~PendingTransfer() { IoFreeIrp(irp_); }

    NTSTATUS send() {
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp_);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
        next->Parameters.Others.Argument1 = &urb_;
        IoSetCompletionRoutine(irp_, signalDone, &done_, TRUE, TRUE, TRUE);
        return IofCallDriver(pdo_, irp_);
    }
    bool wait(unsigned milliseconds) {
        LARGE_INTEGER timeout{.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000};
        return KeWaitForSingleObject(&done_, Executive, KernelMode, FALSE, &timeout) ==
               STATUS_SUCCESS;
    }
    bool done() { return wait(0); }
    void cancel() { IoCancelIrp(irp_); }
    NTSTATUS status() const { return irp_->IoStatus.Status; }
    ULONG moved() const { return urb_.UrbBulkOrInterruptTransfer.TransferBufferLength; }

  private:
    static NTSTATUS signalDone(PDEVICE_OBJECT, PIRP, PVOID event) {
        KeSetEvent(static_cast<PKEVENT>(event), 1, FALSE);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }

    PDEVICE_OBJECT pdo_;
    PIRP irp_;
    URB urb_{};
    KEVENT done_;
};

// A simulated camera behind a bus, seen through a HoldingFunction and configured by the driver's
// own requests.
class UsbBusTest : public KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        camera = std::make_unique<sim::SimulatedCamera>(sim::SimulatedCameraOptions{
            .pacing = sim::FramePacing::AsFastAsPossible, .scene = nullptr});
        holding = std::make_unique<HoldingFunction>(*camera);
        bus = std::make_unique<UsbBus>(*holding);
        usb.physicalDevice = usb.lowerDevice = bus->physicalDeviceObject();
        ASSERT_EQ(ConfigureDevice(&usb), STATUS_SUCCESS);
    }
    void TearDown() override {
        holding->release();  // a failed test may leave the bus thread held
        ReleaseConfiguration(&usb);
        bus.reset();
        KernelTest::TearDown();
    }
    PDEVICE_OBJECT pdo() const { return bus->physicalDeviceObject(); }
    USBD_PIPE_HANDLE pipe(ULONG index) { return PipeOf(&usb, index)->PipeHandle; }

    std::unique_ptr<sim::SimulatedCamera> camera;
    std::unique_ptr<HoldingFunction> holding;
    std::unique_ptr<UsbBus> bus;
    UsbTarget usb{};
};

// The abort finds the bus thread inside an attempt on the pipe's only read, so it waits for that
// read. A read queued meanwhile is no part of the abort: the abort completes after the first read
// alone, and the second stays queued until it is cancelled.
TEST_F(UsbBusTest, AbortAwaitsOnlyTheTransfersQueuedBeforeIt) {
    std::vector<std::uint8_t> buffer(2 * 65536);
    PendingTransfer first(pdo(), pipe(2), buffer.data(), 65536, true);
    PendingTransfer second(pdo(), pipe(2), buffer.data() + 65536, 65536, true);
    PendingTransfer abort(pdo(), URB_FUNCTION_ABORT_PIPE, pipe(2));

    holding->holdNextIn(sim::kFrameEndpoint);
    first.send();
    ASSERT_TRUE(holding->waitHeld(10s)) << "the bus thread never tried the frame pipe";
    EXPECT_EQ(abort.send(), STATUS_PENDING) << "the abort must wait for the read in progress";
    second.send();
    holding->release();

    ASSERT_TRUE(first.wait(10000));
    EXPECT_EQ(first.status(), STATUS_CANCELLED);
    const bool aborted = abort.wait(10000);
    EXPECT_TRUE(aborted) << "the abort waited for the read queued after it";
    EXPECT_FALSE(second.done()) << "the abort took the later read";
    second.cancel();
    ASSERT_TRUE(second.wait(10000));
    EXPECT_EQ(second.status(), STATUS_CANCELLED);
    ASSERT_TRUE(aborted || abort.wait(10000)) << "the abort outlived every read";
    EXPECT_EQ(abort.status(), STATUS_SUCCESS);
}

// A camera plugged in again where it was gets its old instance path, and so its stored
// settings; two cameras at once get two.
TEST_F(UsbBusTest, ANewBusTakesTheLowestFreePort) {
    sim::SimulatedCamera second;
    std::wstring secondPath;
    {
        const UsbBus other(second);
        secondPath = other.instancePath();
        EXPECT_NE(secondPath, bus->instancePath());
    }
    const UsbBus again(second);
    EXPECT_EQ(again.instancePath(), secondPath);
}

// The bus thread looks at the command pipe, then tries the reply pipe, which has nothing yet. A
// command queued during that attempt must still be sent: nothing else will wake the thread, and
// the reply read waits for the command's answer.
TEST_F(UsbBusTest, CommandQueuedDuringAFruitlessReplyAttemptIsSent) {
    std::uint8_t reply[64] = {};
    std::uint8_t command[64] = {static_cast<std::uint8_t>(sim::CommandCode::ClockQuery)};
    PendingTransfer replyRead(pdo(), pipe(1), reply, 64, true);
    PendingTransfer commandWrite(pdo(), pipe(0), command, 64, false);

    holding->holdNextIn(sim::kReplyEndpoint);
    replyRead.send();
    ASSERT_TRUE(holding->waitHeld(10s)) << "the bus thread never tried the reply pipe";
    EXPECT_EQ(commandWrite.send(), STATUS_PENDING);
    holding->release();

    const bool sent = commandWrite.wait(10000);
    const bool answered = sent && replyRead.wait(10000);
    if (!answered) {
        commandWrite.cancel();
        replyRead.cancel();
        commandWrite.wait(10000);
        replyRead.wait(10000);
    }
    ASSERT_TRUE(sent) << "the command queued during the attempt was never sent";
    ASSERT_TRUE(answered) << "the reply read was never answered";
    EXPECT_EQ(replyRead.moved(), 64u);
    EXPECT_EQ(reply[0], command[0]) << "the first reply packet echoes the query";
}

TEST_F(UsbBusTest, RequestsTheBusCannotServeAreRefused) {
    struct Case {
        const char* name;
        USHORT function;
        USHORT length;  // the URB header's length
        bool knownPipe;
        USBD_STATUS usbd;
        const char* verifier;  // the report it raises, if any
    };
    const Case cases[] = {
        {"unknown function", 0x0077, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER), true,
         USBD_STATUS_INVALID_URB_FUNCTION, "not implemented"},
        {"unknown pipe", URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER,
         sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER), false, USBD_STATUS_INVALID_PIPE_HANDLE, nullptr},
        {"URB shorter than its request", URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER,
         sizeof(_URB_PIPE_REQUEST), true, USBD_STATUS_INVALID_PARAMETER, "below the 128 bytes"},
    };
    for (const Case& c : cases) {
        std::uint8_t packet[64] = {};
        URB urb{};
        UsbBuildInterruptOrBulkTransferRequest(
            &urb, c.length, c.knownPipe ? pipe(0) : reinterpret_cast<USBD_PIPE_HANDLE>(0x1234),
            packet, nullptr, sizeof(packet), USBD_SHORT_TRANSFER_OK, nullptr);
        urb.UrbHeader.Function = c.function;
        EXPECT_EQ(SubmitUrbSync(&usb, &urb), STATUS_INVALID_PARAMETER) << c.name;
        EXPECT_EQ(urb.UrbHeader.Status, c.usbd) << c.name;
        if (c.verifier != nullptr) expectVerifierFailure(c.verifier);
    }
    EXPECT_EQ(camera->packetLog().snapshot().size(), 0u) << "nothing reached the camera";
}

}  // namespace
}  // namespace bayercam::host::testing
