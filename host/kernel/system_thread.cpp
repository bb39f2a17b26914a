// System threads: PsCreateSystemThread runs the start routine on a host thread behind a thread
// object; PsTerminateSystemThread ends the calling system thread.
#include <pthread.h>

#include <memory>
#include <string>

#include "host/kernel/dispatcher.h"
#include "host/kernel/failure_injection.h"
#include "host/kernel/handle_table.h"
#include "host/kernel/irql.h"
#include "host/kernel/thread_object.h"
#include "host/kernel/verifier.h"

namespace bayercam::host::threads {
namespace {

// Thrown by PsTerminateSystemThread and caught where the thread began; driver frames in
// between hold nothing that needs unwinding.
struct TerminateThread {};

thread_local PKTHREAD currentSystemThread = nullptr;

class ThreadHandle final : public HandleObject {
  public:
    explicit ThreadHandle(PKTHREAD thread) noexcept : thread_(thread) {}
    ~ThreadHandle() override { dereference(thread_); }
    HandleKind kind() const noexcept override { return HandleKind::Thread; }
    PKTHREAD thread() const noexcept { return thread_; }

  private:
    PKTHREAD thread_;
};

void run(PKTHREAD thread) noexcept {
    pthread_setname_np(pthread_self(), "system-thread");
    currentSystemThread = thread;
    try {
        thread->routine(thread->context);
    } catch (const TerminateThread&) {
    }
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        verifier::report("system thread ended at IRQL " + std::to_string(KeGetCurrentIrql()) +
                         " (expected PASSIVE_LEVEL)");
        KeLowerIrql(PASSIVE_LEVEL);
    }
    currentSystemThread = nullptr;
    dispatcher::signalThen(thread->Header, [thread] { dereference(thread); });
}

}  // namespace

PKTHREAD referenceByHandle(HANDLE handle) noexcept {
    // The handle object keeps the thread object alive while the reference is taken.
    auto object = lookupHandleAs<ThreadHandle>(handle, HandleKind::Thread);
    if (!object) return nullptr;
    reference(object->thread());
    return object->thread();
}

}  // namespace bayercam::host::threads

using namespace bayercam::host;

extern "C" NTSTATUS PsCreateSystemThread(PHANDLE ThreadHandle, ULONG, POBJECT_ATTRIBUTES, HANDLE,
                                         PCLIENT_ID ClientId, PKSTART_ROUTINE StartRoutine,
                                         PVOID StartContext) {
    irql::checkPassive("PsCreateSystemThread");
    if (injection::shouldFail(injection::kThreadSite)) return STATUS_INSUFFICIENT_RESOURCES;
    // One reference for the handle, one for the running thread.
    PKTHREAD thread = threads::create(StartRoutine, StartContext, 2);
    if (!thread) return STATUS_INSUFFICIENT_RESOURCES;
    std::shared_ptr<threads::ThreadHandle> owner;
    try {
        owner = std::make_shared<threads::ThreadHandle>(thread);
    } catch (...) {
        threads::dereference(thread);
        threads::dereference(thread);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    const HANDLE handle = insertHandle(std::move(owner));
    if (!handle) {
        threads::dereference(thread);  // the handle's reference went with `owner`
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    try {
        thread->thread = std::thread(threads::run, thread);
    } catch (...) {
        ZwClose(handle);
        threads::dereference(thread);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (ClientId) {
        ClientId->UniqueProcess = nullptr;
        ClientId->UniqueThread = thread;
    }
    *ThreadHandle = handle;
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS PsTerminateSystemThread(NTSTATUS) {
    if (!threads::currentSystemThread) {
        verifier::report("PsTerminateSystemThread called outside a system thread");
        return STATUS_INVALID_PARAMETER;
    }
    throw threads::TerminateThread{};
}
