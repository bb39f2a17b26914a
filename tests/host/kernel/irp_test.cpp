#include <optional>
#include <string>
#include <vector>

#include "host/kernel/failure_injection.h"
#include "host/kernel/live_objects.h"
#include "host/kernel/pool.h"
#include "tests/host/kernel/test_driver.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

using testing::completeWith;
using testing::forwardTo;
using testing::holdPending;

struct Call {
    std::string name;
    PDEVICE_OBJECT device;
    bool pendingReturned;
};

// A completion routine's context: records the call and returns `result`.
struct Probe {
    std::string name;
    std::vector<Call>* calls;
    NTSTATUS result = STATUS_SUCCESS;
};

NTSTATUS record(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    auto* probe = static_cast<Probe*>(context);
    probe->calls->push_back({probe->name, device, irp->PendingReturned != FALSE});
    return probe->result;
}

class IrpTest : public testing::KernelTest {
  protected:
    // A request for the top of the stack with the creator's probe on its first location.
    PIRP requestFor(PDEVICE_OBJECT top, Probe* creator) {
        PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        IoSetCompletionRoutine(irp, record, creator, TRUE, TRUE, TRUE);
        return irp;
    }

    void TearDown() override {
        devices_.reset();  // the device objects go before the leak check
        KernelTest::TearDown();
    }

    std::vector<Call> calls_;
    Probe creator_{"creator", &calls_, STATUS_MORE_PROCESSING_REQUIRED};
    std::optional<testing::TestDriver> devices_{std::in_place};
    testing::TestDriver& driver_ = *devices_;
};

// ---------------------------------------------------------------- allocation and locations

TEST_F(IrpTest, AllocatedRequestStartsOnePastItsLastLocation) {
    PIRP irp = IoAllocateIrp(3, FALSE);
    ASSERT_NE(irp, nullptr);
    EXPECT_EQ(irp->StackCount, 3);
    EXPECT_EQ(irp->CurrentLocation, 4);
    auto* locations = reinterpret_cast<PIO_STACK_LOCATION>(irp + 1);
    EXPECT_EQ(IoGetCurrentIrpStackLocation(irp), locations + 3);
    EXPECT_EQ(IoGetNextIrpStackLocation(irp), locations + 2);
    EXPECT_EQ(live::count(live::Kind::Irp), 1u);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, CallDriverStepsOntoTheNextLocationAndNamesTheDevice) {
    PIO_STACK_LOCATION seen = nullptr;
    CHAR location = 0;
    PDEVICE_OBJECT device = driver_.addDevice([&](PDEVICE_OBJECT, PIRP irp) {
        seen = IoGetCurrentIrpStackLocation(irp);
        location = irp->CurrentLocation;
        return completeWith(STATUS_SUCCESS)(nullptr, irp);
    });
    PIRP irp = requestFor(device, &creator_);
    PIO_STACK_LOCATION expected = IoGetNextIrpStackLocation(irp);
    EXPECT_EQ(IoCallDriver(device, irp), STATUS_SUCCESS);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(location, 1);
    EXPECT_EQ(expected->DeviceObject, device);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, CopyToNextKeepsParametersButNotTheCompletionRoutine) {
    PIRP irp = IoAllocateIrp(2, FALSE);
    IoSetNextIrpStackLocation(irp);
    PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(irp);
    current->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    current->Parameters.Others.Argument1 = irp;
    current->CompletionRoutine = record;
    current->Control = SL_INVOKE_ON_SUCCESS;
    IoCopyCurrentIrpStackLocationToNext(irp);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    EXPECT_EQ(next->MajorFunction, IRP_MJ_INTERNAL_DEVICE_CONTROL);
    EXPECT_EQ(next->Parameters.Others.Argument1, irp);
    EXPECT_EQ(next->CompletionRoutine, nullptr);
    EXPECT_EQ(next->Control, 0);
    IoSkipCurrentIrpStackLocation(irp);
    IoFreeIrp(irp);
}

// ---------------------------------------------------------------- completion order and flags

TEST_F(IrpTest, CompletionRoutinesRunBottomUpWithTheDeviceThatSetThem) {
    Probe top{"top", &calls_}, middle{"middle", &calls_};
    PDEVICE_OBJECT bottomDevice = driver_.addDevice(completeWith(STATUS_SUCCESS));
    PDEVICE_OBJECT middleDevice =
        driver_.addDevice(forwardTo(&bottomDevice, record, &middle), bottomDevice);
    PDEVICE_OBJECT topDevice =
        driver_.addDevice(forwardTo(&middleDevice, record, &top), bottomDevice);
    ASSERT_EQ(topDevice->StackSize, 3);

    PIRP irp = requestFor(topDevice, &creator_);
    EXPECT_EQ(IoCallDriver(topDevice, irp), STATUS_SUCCESS);
    ASSERT_EQ(calls_.size(), 3u);
    EXPECT_EQ(calls_[0].name, "middle");
    EXPECT_EQ(calls_[0].device, middleDevice);
    EXPECT_EQ(calls_[1].name, "top");
    EXPECT_EQ(calls_[1].device, topDevice);
    EXPECT_EQ(calls_[2].name, "creator");
    EXPECT_EQ(calls_[2].device, nullptr);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, InvokeFlagsSelectRoutinesByOutcome) {
    Probe onSuccess{"success-only", &calls_}, onError{"error-only", &calls_};
    PDEVICE_OBJECT bottom = driver_.addDevice(completeWith(STATUS_UNSUCCESSFUL));
    PDEVICE_OBJECT middle =
        driver_.addDevice(forwardTo(&bottom, record, &onSuccess, true, false, false), bottom);
    PDEVICE_OBJECT top =
        driver_.addDevice(forwardTo(&middle, record, &onError, false, true, false), bottom);
    PIRP irp = requestFor(top, &creator_);
    EXPECT_EQ(IoCallDriver(top, irp), STATUS_UNSUCCESSFUL);
    ASSERT_EQ(calls_.size(), 2u);
    EXPECT_EQ(calls_[0].name, "error-only");
    EXPECT_EQ(calls_[1].name, "creator");
    IoFreeIrp(irp);
}

TEST_F(IrpTest, CancelFlagInvokesRoutineOfCancelledRequest) {
    Probe onCancel{"cancel-only", &calls_};
    PDEVICE_OBJECT bottom = driver_.addDevice([](PDEVICE_OBJECT, PIRP irp) {
        irp->Cancel = TRUE;  // as IoCancelIrp leaves it
        return completeWith(STATUS_SUCCESS)(nullptr, irp);
    });
    PDEVICE_OBJECT top =
        driver_.addDevice(forwardTo(&bottom, record, &onCancel, false, false, true), bottom);
    PIRP irp = requestFor(top, &creator_);
    IoCallDriver(top, irp);
    ASSERT_EQ(calls_.size(), 2u);
    EXPECT_EQ(calls_[0].name, "cancel-only");
    IoFreeIrp(irp);
}

TEST_F(IrpTest, MoreProcessingRequiredStopsCompletionUntilCompletedAgain) {
    Probe top{"top", &calls_}, middle{"middle", &calls_, STATUS_MORE_PROCESSING_REQUIRED};
    PIRP held = nullptr;
    PDEVICE_OBJECT bottomDevice = driver_.addDevice(completeWith(STATUS_SUCCESS));
    PDEVICE_OBJECT middleDevice = driver_.addDevice(
        [&](PDEVICE_OBJECT, PIRP irp) {
            held = irp;
            return forwardTo(&bottomDevice, record, &middle)(nullptr, irp);
        },
        bottomDevice);
    PDEVICE_OBJECT topDevice =
        driver_.addDevice(forwardTo(&middleDevice, record, &top), bottomDevice);
    PIRP irp = requestFor(topDevice, &creator_);
    IoCallDriver(topDevice, irp);
    ASSERT_EQ(calls_.size(), 1u) << "completion went on past STATUS_MORE_PROCESSING_REQUIRED";
    EXPECT_EQ(calls_[0].name, "middle");

    // The middle driver owns the request again and finishes it later.
    IoCompleteRequest(held, IO_NO_INCREMENT);
    ASSERT_EQ(calls_.size(), 3u);
    EXPECT_EQ(calls_[1].name, "top");
    EXPECT_EQ(calls_[2].name, "creator");
    IoFreeIrp(irp);
}

TEST_F(IrpTest, PendingMarkIsCarriedPastLocationsWithoutRoutinesButNotPastARoutine) {
    Probe top{"top", &calls_};
    PIRP pending = nullptr;
    PDEVICE_OBJECT bottom = driver_.addDevice(holdPending(pending));
    PDEVICE_OBJECT middle = driver_.addDevice(forwardTo(&bottom), bottom);
    PDEVICE_OBJECT topDevice = driver_.addDevice(forwardTo(&middle, record, &top), bottom);
    PIRP irp = requestFor(topDevice, &creator_);
    EXPECT_EQ(IoCallDriver(topDevice, irp), STATUS_PENDING);
    pending->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(pending, IO_NO_INCREMENT);
    ASSERT_EQ(calls_.size(), 2u);
    EXPECT_TRUE(calls_[0].pendingReturned) << "the mark passes the middle, which set no routine";
    EXPECT_FALSE(calls_[1].pendingReturned) << "the top routine did not call IoMarkIrpPending";
    IoFreeIrp(irp);
}

TEST_F(IrpTest, SkippedLocationIsReusedByTheLowerDevice) {
    Probe top{"top", &calls_};
    PDEVICE_OBJECT bottom = driver_.addDevice(completeWith(STATUS_SUCCESS));
    PDEVICE_OBJECT topDevice = driver_.addDevice(
        [&](PDEVICE_OBJECT, PIRP irp) {
            IoSkipCurrentIrpStackLocation(irp);
            return IoCallDriver(bottom, irp);
        },
        bottom);
    PIRP irp = requestFor(topDevice, &creator_);
    IoCallDriver(topDevice, irp);
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_EQ(calls_[0].name, "creator");
    IoFreeIrp(irp);
}

// ---------------------------------------------------------------- IoSetCompletionRoutineEx

// The routine's context is pool the leak check sees; it runs on success only, as asked.
TEST_F(IrpTest, CompletionRoutineExHonoursItsFlagsAndReleasesItsContext) {
    Probe top{"top", &calls_};
    NTSTATUS outcome = STATUS_SUCCESS;
    PDEVICE_OBJECT bottom = driver_.addDevice(
        [&](PDEVICE_OBJECT, PIRP irp) { return completeWith(outcome)(nullptr, irp); });
    PDEVICE_OBJECT topDevice = driver_.addDevice(
        [&](PDEVICE_OBJECT device, PIRP irp) {
            IoCopyCurrentIrpStackLocationToNext(irp);
            EXPECT_EQ(IoSetCompletionRoutineEx(device, irp, record, &top, TRUE, FALSE, FALSE),
                      STATUS_SUCCESS);
            return IoCallDriver(bottom, irp);
        },
        bottom);
    for (NTSTATUS status : {STATUS_SUCCESS, STATUS_UNSUCCESSFUL}) {
        calls_.clear();
        outcome = status;
        PIRP irp = requestFor(topDevice, &creator_);
        EXPECT_EQ(IoCallDriver(topDevice, irp), status);
        const bool success = NT_SUCCESS(status);
        ASSERT_EQ(calls_.size(), success ? 2u : 1u) << std::hex << "status 0x" << status;
        EXPECT_EQ(calls_[0].name, success ? "top" : "creator");
        EXPECT_EQ(calls_[0].device, success ? topDevice : nullptr);
        IoFreeIrp(irp);
    }
}

TEST_F(IrpTest, CompletionRoutineExCanFailAsThePlatformDoes) {
    PDEVICE_OBJECT device = driver_.addDevice(completeWith(STATUS_SUCCESS));
    PIRP irp = IoAllocateIrp(2, FALSE);
    IoSetNextIrpStackLocation(irp);
    injection::failNth(1);
    EXPECT_EQ(IoSetCompletionRoutineEx(device, irp, record, &creator_, TRUE, TRUE, TRUE),
              STATUS_INSUFFICIENT_RESOURCES);
    IoSkipCurrentIrpStackLocation(irp);
    IoFreeIrp(irp);
}

// ---------------------------------------------------------------- verifier

TEST_F(IrpTest, DoubleCompletionIsReported) {
    PDEVICE_OBJECT device = driver_.addDevice([](PDEVICE_OBJECT, PIRP irp) {
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    });
    PIRP irp = requestFor(device, &creator_);
    IoCallDriver(device, irp);
    expectVerifierFailure("completed twice");
    EXPECT_EQ(calls_.size(), 1u);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, CompletingWithCancelRoutineSetIsReported) {
    PDEVICE_OBJECT device = driver_.addDevice([](PDEVICE_OBJECT, PIRP irp) {
        IoSetCancelRoutine(irp, [](PDEVICE_OBJECT, PIRP) {});
        return completeWith(STATUS_SUCCESS)(nullptr, irp);
    });
    PIRP irp = requestFor(device, &creator_);
    IoCallDriver(device, irp);
    expectVerifierFailure("cancel routine is still set");
    IoSetCancelRoutine(irp, nullptr);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, FreeingRequestHeldByDriverIsReported) {
    PIRP held = nullptr;
    PDEVICE_OBJECT device = driver_.addDevice(holdPending(held));
    PIRP irp = requestFor(device, &creator_);
    IoCallDriver(device, irp);
    IoFreeIrp(irp);
    expectVerifierFailure("still in a driver's hands");
    EXPECT_EQ(live::count(live::Kind::Irp), 1u) << "the held request must not be freed";
    held->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(held, IO_NO_INCREMENT);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, MissingDispatchRoutineIsReportedAndRequestRefused) {
    PDEVICE_OBJECT device = driver_.addDevice(completeWith(STATUS_SUCCESS));
    driver_.driverObject().MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = nullptr;
    PIRP irp = requestFor(device, &creator_);
    EXPECT_EQ(IoCallDriver(device, irp), STATUS_INVALID_DEVICE_REQUEST);
    expectVerifierFailure("no dispatch routine for major function 15");
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_EQ(irp->IoStatus.Status, STATUS_INVALID_DEVICE_REQUEST);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, RequestWithoutCreatorRoutineCompletedToTheTopIsReported) {
    PDEVICE_OBJECT device = driver_.addDevice(completeWith(STATUS_SUCCESS));
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    IoCallDriver(device, irp);
    expectVerifierFailure("must return STATUS_MORE_PROCESSING_REQUIRED");
    IoFreeIrp(irp);
}

TEST_F(IrpTest, CallingWithNoLocationLeftIsReported) {
    PDEVICE_OBJECT bottom = driver_.addDevice(completeWith(STATUS_SUCCESS));
    PDEVICE_OBJECT top = driver_.addDevice(forwardTo(&bottom), bottom);
    PIRP irp = IoAllocateIrp(1, FALSE);  // one short of the stack's two
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    IoSetCompletionRoutine(irp, record, &creator_, TRUE, TRUE, TRUE);
    EXPECT_EQ(IoCallDriver(top, irp), STATUS_INVALID_PARAMETER);
    const auto failures = takeVerifierFailures();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_NE(failures[0].find("IoCopyCurrentIrpStackLocationToNext on a request with no next"),
              std::string::npos)
        << failures[0];
    EXPECT_NE(failures[1].find("no stack location left"), std::string::npos) << failures[1];
    // The top device still holds the request: it gives up and completes it.
    irp->IoStatus.Status = STATUS_INVALID_PARAMETER;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(calls_.size(), 1u);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, UseOfFreedRequestIsReported) {
    PIRP irp = IoAllocateIrp(1, FALSE);
    IoFreeIrp(irp);
    IoFreeIrp(irp);
    expectVerifierFailure("not a live request");
}

TEST_F(IrpTest, RequestAllocationCanFail) {
    injection::failNthOfTag(injection::kIrpSite, 1);
    EXPECT_EQ(IoAllocateIrp(2, FALSE), nullptr);
}

}  // namespace
}  // namespace bayercam::host
