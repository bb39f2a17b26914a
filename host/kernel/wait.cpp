// KeWaitForSingleObject on events and thread objects, and KeDelayExecutionThread.
#include <chrono>
#include <string>
#include <thread>

#include "host/kernel/dispatcher.h"
#include "host/kernel/irql.h"
#include "host/kernel/verifier.h"

namespace {

using namespace bayercam::host;
using Ticks = std::chrono::duration<LONGLONG, std::ratio<1, 10'000'000>>;  // 100 ns

// Waits longer than this are treated as waiting forever (and cannot overflow the clock).
constexpr auto kForever = std::chrono::hours(24 * 365);

// The deadline of a relative time-out (a negative count of 100-ns units).
dispatcher::Deadline deadlineAfter(LONGLONG relative) {
    const Ticks interval(-relative);
    if (interval >= kForever) return std::nullopt;
    return std::chrono::steady_clock::now() +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(interval);
}

bool isWaitable(const DISPATCHER_HEADER& header) {
    const UCHAR type = dispatcher::typeOf(header);
    return type == dispatcher::kNotificationEvent || type == dispatcher::kSynchronizationEvent ||
           type == dispatcher::kThread;
}

}  // namespace

extern "C" NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                                          PLARGE_INTEGER Timeout) {
    auto& header = *static_cast<DISPATCHER_HEADER*>(Object);
    if (!isWaitable(header)) {
        verifier::report(
            "KeWaitForSingleObject on an object that is not an event or a thread (type " +
            std::to_string(dispatcher::typeOf(header)) + ")");
        return STATUS_INVALID_PARAMETER;
    }
    if (Timeout && Timeout->QuadPart > 0) {
        verifier::report("KeWaitForSingleObject with an absolute time-out: not supported here");
        return STATUS_INVALID_PARAMETER;
    }
    // A zero time-out only tests the state and may be used at any IRQL. The wait goes on after
    // a violation so the rest of the test still runs as the driver intended.
    const bool poll = Timeout && Timeout->QuadPart == 0;
    if (!poll) irql::checkMayBlock("KeWaitForSingleObject");
    const dispatcher::Deadline deadline =
        !Timeout ? std::nullopt
        : poll   ? dispatcher::Deadline(std::chrono::steady_clock::now())
                 : deadlineAfter(Timeout->QuadPart);
    return dispatcher::wait(header, deadline) ? STATUS_SUCCESS : STATUS_TIMEOUT;
}

extern "C" NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Interval) {
    if (!Interval || Interval->QuadPart > 0) {
        verifier::report("KeDelayExecutionThread needs a relative interval (a negative count)");
        return STATUS_INVALID_PARAMETER;
    }
    irql::checkMayBlock("KeDelayExecutionThread");
    const dispatcher::Deadline deadline = deadlineAfter(Interval->QuadPart);
    if (!deadline) {
        verifier::report("KeDelayExecutionThread for a year or more");
        return STATUS_INVALID_PARAMETER;
    }
    std::this_thread::sleep_until(*deadline);
    return STATUS_SUCCESS;
}
