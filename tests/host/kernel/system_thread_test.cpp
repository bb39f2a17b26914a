#include <atomic>

#include "host/kernel/failure_injection.h"
#include "host/kernel/live_objects.h"
#include "host/kernel/pool.h"
#include "tests/host/kernel/kernel_style_thread.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

using SystemThreadTest = testing::KernelTest;

// What a test thread works on. A test waits for its thread to finish with this record (on the
// thread object or on `done`) before the record goes out of scope.
struct Work {
    KEVENT go;    // the thread waits for it before finishing
    KEVENT done;  // set as the thread's last touch of the record
    std::atomic<int> steps{0};
    KIRQL leaveAt = PASSIVE_LEVEL;
};

VOID countAndWait(PVOID context) {
    auto* work = static_cast<Work*>(context);
    ++work->steps;
    KeWaitForSingleObject(&work->go, Executive, KernelMode, FALSE, nullptr);
    ++work->steps;
}

VOID countWaitAndSignal(PVOID context) {
    auto* work = static_cast<Work*>(context);
    ++work->steps;
    KeWaitForSingleObject(&work->go, Executive, KernelMode, FALSE, nullptr);
    ++work->steps;
    KeSetEvent(&work->done, IO_NO_INCREMENT, FALSE);
}

VOID doNothing(PVOID) {}

VOID terminateEarly(PVOID context) {
    auto* work = static_cast<Work*>(context);
    ++work->steps;
    PsTerminateSystemThread(STATUS_SUCCESS);
    ++work->steps;  // never reached
}

VOID leaveRaised(PVOID context) {
    KIRQL old;
    KeRaiseIrql(static_cast<Work*>(context)->leaveAt, &old);
}

PKTHREAD start(PKSTART_ROUTINE routine, Work& work) {
    HANDLE handle = nullptr;
    EXPECT_EQ(
        PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, routine, &work),
        STATUS_SUCCESS);
    PVOID object = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode,
                                        &object, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    return static_cast<PKTHREAD>(object);
}

NTSTATUS waitMs(PVOID object, LONGLONG ms) {
    LARGE_INTEGER timeout;
    timeout.QuadPart = -ms * 10'000;
    return KeWaitForSingleObject(object, Executive, KernelMode, FALSE, &timeout);
}

// ---------------------------------------------------------------- life cycle

TEST_F(SystemThreadTest, ThreadObjectIsSignalledWhenRoutineReturns) {
    Work work;
    KeInitializeEvent(&work.go, NotificationEvent, FALSE);
    PKTHREAD thread = start(countAndWait, work);
    EXPECT_EQ(waitMs(thread, 20), STATUS_TIMEOUT) << "signalled while still running";
    KeSetEvent(&work.go, IO_NO_INCREMENT, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(work.steps.load(), 2);
    ObDereferenceObject(thread);
}

TEST_F(SystemThreadTest, PsTerminateSystemThreadEndsTheThreadAtOnce) {
    Work work;
    PKTHREAD thread = start(terminateEarly, work);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(work.steps.load(), 1);
    ObDereferenceObject(thread);
}

TEST_F(SystemThreadTest, TerminateWorksFromCodeBuiltWithoutExceptions) {
    volatile LONG steps = 0;
    HANDLE handle = nullptr;
    ASSERT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                   KernelStyleThreadRoutine, const_cast<LONG*>(&steps)),
              STATUS_SUCCESS);
    PVOID thread = nullptr;
    ObReferenceObjectByHandle(handle, 0, *PsThreadType, KernelMode, &thread, nullptr);
    ZwClose(handle);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(steps, 1);
    ObDereferenceObject(thread);
}

TEST_F(SystemThreadTest, ObjectOutlivesHandleWhileThreadRuns) {
    Work work;
    KeInitializeEvent(&work.go, NotificationEvent, FALSE);
    KeInitializeEvent(&work.done, NotificationEvent, FALSE);
    HANDLE handle = nullptr;
    ASSERT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                   countWaitAndSignal, &work),
              STATUS_SUCCESS);
    ZwClose(handle);  // the running thread keeps its own reference
    EXPECT_EQ(live::count(live::Kind::ThreadObject), 1u);
    KeSetEvent(&work.go, IO_NO_INCREMENT, FALSE);
    KeWaitForSingleObject(&work.done, Executive, KernelMode, FALSE, nullptr);
    EXPECT_EQ(work.steps.load(), 2);
    // The fixture checks that the object goes away once the thread has ended.
}

TEST_F(SystemThreadTest, ReferencesAreCounted) {
    Work work;
    KeInitializeEvent(&work.go, NotificationEvent, TRUE);
    HANDLE handle = nullptr;
    ASSERT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                   countAndWait, &work),
              STATUS_SUCCESS);
    PVOID first = nullptr, second = nullptr;
    ASSERT_EQ(ObReferenceObjectByHandle(handle, 0, *PsThreadType, KernelMode, &first, nullptr),
              STATUS_SUCCESS);
    ASSERT_EQ(ObReferenceObjectByHandle(handle, 0, nullptr, KernelMode, &second, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(first, second);
    KeWaitForSingleObject(first, Executive, KernelMode, FALSE, nullptr);
    ZwClose(handle);
    EXPECT_EQ(ObDereferenceObject(first), 1);
    EXPECT_EQ(ObDereferenceObject(second), 0);
}

// ---------------------------------------------------------------- failures and misuse

TEST_F(SystemThreadTest, CreationFailsAsThePlatformDoesWhenInjected) {
    injection::failNthOfTag(injection::kThreadSite, 1);
    Work work;
    HANDLE handle = nullptr;
    EXPECT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                   countAndWait, &work),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(work.steps.load(), 0);
}

TEST_F(SystemThreadTest, WrongObjectTypeAndBadHandlesAreRefused) {
    HANDLE handle = nullptr;
    ASSERT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, doNothing,
                                   nullptr),
              STATUS_SUCCESS);
    int notAType = 0;
    auto* otherType = reinterpret_cast<_OBJECT_TYPE*>(&notAType);
    PVOID object = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, otherType, KernelMode, &object, nullptr),
              STATUS_OBJECT_TYPE_MISMATCH);
    EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    for (HANDLE bad : {handle, reinterpret_cast<HANDLE>(0x7FF0)}) {
        EXPECT_EQ(ObReferenceObjectByHandle(bad, 0, *PsThreadType, KernelMode, &object, nullptr),
                  STATUS_INVALID_HANDLE);
        EXPECT_EQ(ZwClose(bad), STATUS_INVALID_HANDLE);
    }
}

TEST_F(SystemThreadTest, TerminateOutsideSystemThreadIsReported) {
    EXPECT_EQ(PsTerminateSystemThread(STATUS_SUCCESS), STATUS_INVALID_PARAMETER);
    expectVerifierFailure("outside a system thread");
}

TEST_F(SystemThreadTest, ThreadEndingAtRaisedIrqlIsReported) {
    Work work;
    work.leaveAt = DISPATCH_LEVEL;
    PKTHREAD thread = start(leaveRaised, work);
    KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(thread);
    expectVerifierFailure("system thread ended at IRQL 2");
}

TEST_F(SystemThreadTest, DereferenceOfUnknownObjectIsReported) {
    int notAnObject = 0;
    ObDereferenceObject(&notAnObject);
    expectVerifierFailure("holds no reference");
}

}  // namespace
}  // namespace bayercam::host
