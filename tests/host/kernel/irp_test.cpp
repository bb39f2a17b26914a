// Requests through a device stack as the driver and the bus use them: a request sent with too
// few locations, and cancel against completion. The ordinary path is what every driver test
// sends through the USB bus.
#include <atomic>
#include <optional>
#include <thread>

#include "tests/host/kernel/test_driver.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

using testing::completeWith;
using testing::forwardTo;

// The creator's completion routine: counts its runs and keeps the request.
NTSTATUS countAndKeep(PDEVICE_OBJECT, PIRP, PVOID runs) {
    ++*static_cast<std::atomic<int>*>(runs);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// What the holding device saw in its cancel routine.
struct Holder {
    std::atomic<int> cancelRoutineRuns{0};
    KIRQL irqlInCancel = 0;
    bool routineClearedInCancel = false;
};
Holder* holder = nullptr;

VOID cancelHeld(PDEVICE_OBJECT, PIRP irp) {
    holder->irqlInCancel = KeGetCurrentIrql();
    // Read as the completion side may exchange it at the same moment.
    holder->routineClearedInCancel = !std::atomic_ref<PDRIVER_CANCEL>(irp->CancelRoutine).load();
    ++holder->cancelRoutineRuns;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    irp->IoStatus.Status = STATUS_CANCELLED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

// What the holding driver does to complete normally: it owns the request only if it takes the
// cancel routine out first.
bool completeHeld(PIRP irp) {
    if (!IoSetCancelRoutine(irp, nullptr)) return false;  // cancel got there first
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return true;
}

// A device that holds each request with a cancel routine, and requests whose creator's
// completion routine counts its runs.
class IrpTest : public testing::KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        holder = &holder_;
        device_ = driver_.addDevice([](PDEVICE_OBJECT, PIRP irp) {
            IoMarkIrpPending(irp);
            IoSetCancelRoutine(irp, cancelHeld);
            return STATUS_PENDING;
        });
    }
    void TearDown() override {
        devices_.reset();  // the device objects go before the leak check
        KernelTest::TearDown();
    }
    PIRP requestWith(CCHAR locations) {
        PIRP irp = IoAllocateIrp(locations, FALSE);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        IoSetCompletionRoutine(irp, countAndKeep, &creatorRuns_, TRUE, TRUE, TRUE);
        return irp;
    }
    PIRP send() {
        PIRP irp = requestWith(device_->StackSize);
        EXPECT_EQ(IoCallDriver(device_, irp), STATUS_PENDING);
        return irp;
    }

    std::atomic<int> creatorRuns_{0};
    std::optional<testing::TestDriver> devices_{std::in_place};
    testing::TestDriver& driver_ = *devices_;
    Holder holder_;
    PDEVICE_OBJECT device_ = nullptr;
};

TEST_F(IrpTest, CallingWithNoLocationLeftIsReportedAndTheCallerKeepsTheRequest) {
    PDEVICE_OBJECT bottom = driver_.addDevice(completeWith(STATUS_SUCCESS));
    PDEVICE_OBJECT top = driver_.addDevice(forwardTo(&bottom), bottom);
    PIRP irp = requestWith(1);  // one short of the stack's two
    EXPECT_EQ(IoCallDriver(top, irp), STATUS_INVALID_PARAMETER);
    const auto failures = takeVerifierFailures();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_NE(failures[0].find("IoCopyCurrentIrpStackLocationToNext on a request with no next"),
              std::string::npos)
        << failures[0];
    EXPECT_NE(failures[1].find("no stack location left"), std::string::npos) << failures[1];
    irp->IoStatus.Status = STATUS_INVALID_PARAMETER;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(creatorRuns_, 1);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, CancelRunsTheRoutineOnceUnderTheCancelLock) {
    PIRP irp = send();
    EXPECT_TRUE(IoCancelIrp(irp));
    EXPECT_EQ(holder_.irqlInCancel, DISPATCH_LEVEL);
    EXPECT_TRUE(holder_.routineClearedInCancel);
    EXPECT_FALSE(IoCancelIrp(irp)) << "a second cancel finds no routine";
    EXPECT_EQ(creatorRuns_, 1);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, CancelRacingCompletionCompletesEachRequestExactlyOnce) {
    int cancelledWins = 0;
    for (int i = 0; i < 1000; ++i) {
        creatorRuns_ = 0;
        PIRP irp = send();
        std::atomic<bool> go{false};
        std::thread canceller([&] {
            while (!go.load()) std::this_thread::yield();
            IoCancelIrp(irp);
        });
        go = true;
        const KIRQL old = KfRaiseIrql(DISPATCH_LEVEL);
        const bool completed = completeHeld(irp);
        KeLowerIrql(old);
        canceller.join();
        ASSERT_EQ(creatorRuns_, 1) << "iteration " << i;
        ASSERT_EQ(irp->IoStatus.Status, completed ? STATUS_SUCCESS : STATUS_CANCELLED) << i;
        cancelledWins += completed ? 0 : 1;
        IoFreeIrp(irp);
    }
    EXPECT_EQ(holder_.cancelRoutineRuns.load(), cancelledWins);
}

}  // namespace
}  // namespace bayercam::host
