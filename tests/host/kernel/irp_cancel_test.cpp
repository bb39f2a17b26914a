#include <atomic>
#include <optional>
#include <thread>

#include "tests/host/kernel/test_driver.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

// A driver that holds one request with a cancel routine, as a queue of length one.
struct HoldingDriver {
    PIRP held = nullptr;
    std::atomic<int> cancelRoutineRuns{0};
    KIRQL irqlInCancel = 0;
    bool cancelFlagInCancel = false;
    bool routineClearedInCancel = false;
};

HoldingDriver* holder = nullptr;

VOID cancelHeld(PDEVICE_OBJECT, PIRP irp) {
    holder->irqlInCancel = KeGetCurrentIrql();
    holder->cancelFlagInCancel = irp->Cancel != FALSE;
    // Read as the completion side may exchange it at the same moment.
    holder->routineClearedInCancel = !std::atomic_ref<PDRIVER_CANCEL>(irp->CancelRoutine).load();
    ++holder->cancelRoutineRuns;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

NTSTATUS countCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    static_cast<std::atomic<int>*>(context)->fetch_add(1);
    (void)irp;
    return STATUS_MORE_PROCESSING_REQUIRED;
}

class IrpCancelTest : public testing::KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        holder = &driver_;
        device_ = devices_->addDevice([](PDEVICE_OBJECT, PIRP irp) {
            IoMarkIrpPending(irp);
            holder->held = irp;
            IoSetCancelRoutine(irp, cancelHeld);
            return STATUS_PENDING;
        });
    }
    void TearDown() override {
        devices_.reset();
        holder = nullptr;
        KernelTest::TearDown();
    }

    // Sends a new request to the holding device; the creator's routine counts completions.
    PIRP send() {
        PIRP irp = IoAllocateIrp(device_->StackSize, FALSE);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
        IoSetCompletionRoutine(irp, countCompletion, &completions_, TRUE, TRUE, TRUE);
        EXPECT_EQ(IoCallDriver(device_, irp), STATUS_PENDING);
        return irp;
    }

    // What the holding driver does to complete normally: it owns the request only if it
    // takes the cancel routine out first.
    static bool completeHeld(PIRP irp) {
        if (!IoSetCancelRoutine(irp, nullptr)) return false;  // cancel got there first
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return true;
    }

    HoldingDriver driver_;
    std::atomic<int> completions_{0};
    std::optional<testing::TestDriver> devices_{std::in_place};
    PDEVICE_OBJECT device_ = nullptr;
};

TEST_F(IrpCancelTest, CancelRunsTheRoutineOnceUnderTheCancelLock) {
    PIRP irp = send();
    EXPECT_TRUE(IoCancelIrp(irp));
    EXPECT_EQ(driver_.cancelRoutineRuns.load(), 1);
    EXPECT_EQ(driver_.irqlInCancel, DISPATCH_LEVEL);
    EXPECT_TRUE(driver_.cancelFlagInCancel);
    EXPECT_TRUE(driver_.routineClearedInCancel);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL) << "the routine released the lock";
    EXPECT_EQ(completions_.load(), 1);
    EXPECT_EQ(irp->IoStatus.Status, STATUS_CANCELLED);
    EXPECT_FALSE(IoCancelIrp(irp)) << "a second cancel finds no routine";
    EXPECT_EQ(driver_.cancelRoutineRuns.load(), 1);
    EXPECT_EQ(completions_.load(), 1);
    IoFreeIrp(irp);
}

TEST_F(IrpCancelTest, CancelWithoutRoutineOnlyMarksTheRequest) {
    PIRP irp = send();
    ASSERT_TRUE(completeHeld(irp));
    EXPECT_FALSE(IoCancelIrp(irp));
    EXPECT_TRUE(irp->Cancel);
    EXPECT_EQ(driver_.cancelRoutineRuns.load(), 0);
    IoFreeIrp(irp);
}

TEST_F(IrpCancelTest, CancelRacingCompletionCompletesEachRequestExactlyOnce) {
    constexpr int kIterations = 1000;
    int cancelledWins = 0;
    for (int i = 0; i < kIterations; ++i) {
        completions_ = 0;
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
        ASSERT_EQ(completions_.load(), 1) << "iteration " << i;
        ASSERT_EQ(irp->IoStatus.Status, completed ? STATUS_SUCCESS : STATUS_CANCELLED)
            << "iteration " << i;
        cancelledWins += completed ? 0 : 1;
        IoFreeIrp(irp);
    }
    EXPECT_EQ(driver_.cancelRoutineRuns.load(), cancelledWins);
}

}  // namespace
}  // namespace bayercam::host
