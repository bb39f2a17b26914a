// Requests through a device stack: completion routines and their flags, pending, more
// processing and cancel. Device control requests are what every
// driver test sends through the USB bus.
#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/kernel/failure_injection.h"
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
    PIRP requestFor(PDEVICE_OBJECT top) {
        PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        IoSetCompletionRoutine(irp, record, &creator_, TRUE, TRUE, TRUE);
        return irp;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const Call& call : calls_) result.push_back(call.name);
        return result;
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

// Routines run bottom-up, each with the device that set it, and only for the outcomes it asked
// for; the creator's routine sees no device.
TEST_F(IrpTest, CompletionRoutinesRunBottomUpForTheOutcomesTheyAskFor) {
    struct Case {
        NTSTATUS status;
        bool cancel;
        std::vector<std::string> called;
    };
    const Case cases[] = {
        {STATUS_SUCCESS, false, {"success", "any", "creator"}},
        {STATUS_UNSUCCESSFUL, false, {"error", "any", "creator"}},
        {STATUS_SUCCESS, true, {"success", "cancel", "any", "creator"}},
    };
    for (const Case& c : cases) {
        calls_.clear();
        Probe any{"any", &calls_}, success{"success", &calls_}, error{"error", &calls_},
            cancel{"cancel", &calls_};
        PDEVICE_OBJECT bottom = driver_.addDevice([&c](PDEVICE_OBJECT, PIRP irp) {
            irp->Cancel = c.cancel;  // as IoCancelIrp leaves it
            return completeWith(c.status)(nullptr, irp);
        });
        PDEVICE_OBJECT d1 =
            driver_.addDevice(forwardTo(&bottom, record, &success, 1, 0, 0), bottom);
        PDEVICE_OBJECT d2 = driver_.addDevice(forwardTo(&d1, record, &error, 0, 1, 0), bottom);
        PDEVICE_OBJECT d3 = driver_.addDevice(forwardTo(&d2, record, &cancel, 0, 0, 1), bottom);
        PDEVICE_OBJECT top = driver_.addDevice(forwardTo(&d3, record, &any), bottom);
        PIRP irp = requestFor(top);
        EXPECT_EQ(IoCallDriver(top, irp), c.status);
        EXPECT_EQ(names(), c.called);
        EXPECT_EQ(calls_.back().device, nullptr);
        if (c.status == STATUS_SUCCESS) {
            EXPECT_EQ(calls_[0].device, d1);
        }
        IoFreeIrp(irp);
    }
}

// The middle driver keeps the request (STATUS_MORE_PROCESSING_REQUIRED) and finishes it later;
// the pending mark passes locations without a routine but not a routine that did not mark it.
TEST_F(IrpTest, MoreProcessingRequiredAndPendingCarryAsThePlatformDoes) {
    Probe top{"top", &calls_}, middle{"middle", &calls_, STATUS_MORE_PROCESSING_REQUIRED};
    PIRP pending = nullptr;
    PIRP kept = nullptr;
    PDEVICE_OBJECT bottom = driver_.addDevice(holdPending(pending));
    PDEVICE_OBJECT plain = driver_.addDevice(forwardTo(&bottom), bottom);
    PDEVICE_OBJECT middleDevice = driver_.addDevice(
        [&](PDEVICE_OBJECT, PIRP irp) {
            kept = irp;
            return forwardTo(&plain, record, &middle)(nullptr, irp);
        },
        bottom);
    PDEVICE_OBJECT topDevice = driver_.addDevice(forwardTo(&middleDevice, record, &top), bottom);
    PIRP irp = requestFor(topDevice);
    EXPECT_EQ(IoCallDriver(topDevice, irp), STATUS_PENDING);
    pending->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(pending, IO_NO_INCREMENT);
    ASSERT_EQ(names(), std::vector<std::string>{"middle"}) << "completion went on past the keep";
    EXPECT_TRUE(calls_[0].pendingReturned) << "the mark passes a location without a routine";
    IoCompleteRequest(kept, IO_NO_INCREMENT);
    EXPECT_EQ(names(), (std::vector<std::string>{"middle", "top", "creator"}));
    EXPECT_FALSE(calls_[1].pendingReturned) << "the middle routine did not call IoMarkIrpPending";
    IoFreeIrp(irp);
}

TEST_F(IrpTest, RequestAllocationCanFail) {
    injection::failNthOfTag(injection::kIrpSite, 1);
    EXPECT_EQ(IoAllocateIrp(2, FALSE), nullptr);
}

TEST_F(IrpTest, CallingWithNoLocationLeftIsReportedAndTheCallerKeepsTheRequest) {
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
    irp->IoStatus.Status = STATUS_INVALID_PARAMETER;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(calls_.size(), 1u);
    IoFreeIrp(irp);
}

// A driver that holds one request with a cancel routine, as a queue of length one.
struct Holder {
    PIRP held = nullptr;
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

class IrpCancelTest : public IrpTest {
  protected:
    void SetUp() override {
        IrpTest::SetUp();
        holder = &holder_;
        device_ = driver_.addDevice([](PDEVICE_OBJECT, PIRP irp) {
            IoMarkIrpPending(irp);
            holder->held = irp;
            IoSetCancelRoutine(irp, cancelHeld);
            return STATUS_PENDING;
        });
    }
    PIRP send() {
        PIRP irp = requestFor(device_);
        EXPECT_EQ(IoCallDriver(device_, irp), STATUS_PENDING);
        return irp;
    }
    Holder holder_;
    PDEVICE_OBJECT device_ = nullptr;
};

TEST_F(IrpCancelTest, CancelRunsTheRoutineOnceUnderTheCancelLockOrOnlyMarksTheRequest) {
    PIRP irp = send();
    EXPECT_TRUE(IoCancelIrp(irp));
    EXPECT_EQ(holder_.irqlInCancel, DISPATCH_LEVEL);
    EXPECT_TRUE(holder_.routineClearedInCancel);
    EXPECT_EQ(irp->IoStatus.Status, STATUS_CANCELLED);
    EXPECT_FALSE(IoCancelIrp(irp)) << "a second cancel finds no routine";
    EXPECT_EQ(holder_.cancelRoutineRuns.load(), 1);
    EXPECT_EQ(calls_.size(), 1u);
    IoFreeIrp(irp);

    irp = send();
    ASSERT_TRUE(completeHeld(irp));
    EXPECT_FALSE(IoCancelIrp(irp));
    EXPECT_TRUE(irp->Cancel);
    EXPECT_EQ(holder_.cancelRoutineRuns.load(), 1);
    IoFreeIrp(irp);
}

TEST_F(IrpCancelTest, CancelRacingCompletionCompletesEachRequestExactlyOnce) {
    int cancelledWins = 0;
    for (int i = 0; i < 1000; ++i) {
        calls_.clear();
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
        ASSERT_EQ(calls_.size(), 1u) << "iteration " << i;
        ASSERT_EQ(irp->IoStatus.Status, completed ? STATUS_SUCCESS : STATUS_CANCELLED) << i;
        cancelledWins += completed ? 0 : 1;
        IoFreeIrp(irp);
    }
    EXPECT_EQ(holder_.cancelRoutineRuns.load(), cancelledWins);
}

}  // namespace
}  // namespace bayercam::host
