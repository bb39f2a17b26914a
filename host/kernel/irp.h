// Host-side bookkeeping of I/O requests. A request is one block: the IRP, its stack locations,
// then an IrpTrailer that records whose hands the request is in.
#pragma once

#include <atomic>

#include "platform/kernel.h"

namespace bayercam::host::irps {

enum class Phase {
    Owned,       // with its creator: not sent, or given back by a completion routine at the top
    Dispatched,  // passed to a driver by IofCallDriver and not completed
    Completing,  // inside IofCompleteRequest, between completion routines
};

struct IrpTrailer {
    ULONG magic = 0;
    std::atomic<Phase> phase{Phase::Owned};
    // Built by IoBuildDeviceIoControlRequest: completion fills the status block, signals the
    // event and frees the request.
    bool threaded = false;
};

IrpTrailer& trailerOf(PIRP irp) noexcept;

// True when `irp` is a live request from IoAllocateIrp. `service` names the caller in the
// verifier failure reported otherwise.
bool checkIrp(PIRP irp, const char* service) noexcept;

// Releases a request's block; the caller has checked that it may go.
void release(PIRP irp) noexcept;

// The last step of completing a request built by IoBuildDeviceIoControlRequest.
void finishThreadedRequest(PIRP irp) noexcept;

}  // namespace bayercam::host::irps
