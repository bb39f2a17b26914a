// System threads: the thread object is signalled when the routine ends, references are counted
// and the object outlives its handle while the thread runs.
#include <atomic>

#include "host/kernel/live_objects.h"
#include "tests/support/kernel_test.h"

namespace bayercam::host {
namespace {

using SystemThreadTest = testing::KernelTest;

// What a test thread works on; the test waits for the thread before the record goes.
struct Work {
    KEVENT go;  // the thread waits for it before finishing
    std::atomic<int> steps{0};
};

VOID countAndWait(PVOID context) {
    auto* work = static_cast<Work*>(context);
    ++work->steps;
    KeWaitForSingleObject(&work->go, Executive, KernelMode, FALSE, nullptr);
    ++work->steps;
}

PVOID start(PKSTART_ROUTINE routine, PVOID context) {
    HANDLE handle = nullptr;
    EXPECT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, routine,
                                   context),
              STATUS_SUCCESS);
    PVOID object = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, *PsThreadType, KernelMode, &object, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    EXPECT_EQ(live::count(live::Kind::ThreadObject), 1u) << "the object outlives the handle";
    return object;
}

TEST_F(SystemThreadTest, TheObjectIsSignalledOnlyWhenTheRoutineEnds) {
    Work work;
    KeInitializeEvent(&work.go, NotificationEvent, FALSE);
    PVOID thread = start(countAndWait, &work);
    LARGE_INTEGER timeout{.QuadPart = -20 * 10'000};
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, &timeout),
              STATUS_TIMEOUT);
    KeSetEvent(&work.go, IO_NO_INCREMENT, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(work.steps.load(), 2);
    EXPECT_EQ(ObDereferenceObject(thread), 0) << "the ended thread let go of its own reference";
}

}  // namespace
}  // namespace bayercam::host
