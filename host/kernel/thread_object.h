// Thread objects: dispatcher objects signalled when their thread ends, reference counted. The
// handle, each ObReferenceObjectByHandle and the running thread itself hold a reference; the
// last one out joins (or, on the thread itself, detaches) the host thread and frees the object.
#pragma once

#include <atomic>
#include <thread>

#include "platform/kernel.h"

struct _KTHREAD {
    DISPATCHER_HEADER Header;  // first, as on the platform: waits read it
    std::atomic<LONG_PTR> references{0};
    PKSTART_ROUTINE routine = nullptr;
    PVOID context = nullptr;
    std::thread thread;
};

namespace bayercam::host::threads {

// A new, non-signalled thread object with `references` references; null when out of memory.
PKTHREAD create(PKSTART_ROUTINE routine, PVOID context, LONG_PTR references) noexcept;

// True while `object` is a live thread object.
bool isThreadObject(const void* object) noexcept;

void reference(PKTHREAD thread) noexcept;

// Drops one reference; returns the count left (0 when the object was freed).
LONG_PTR dereference(PKTHREAD thread) noexcept;

// The thread object behind a thread handle with a new reference, or null when the handle is
// not a thread handle.
PKTHREAD referenceByHandle(HANDLE handle) noexcept;

}  // namespace bayercam::host::threads
