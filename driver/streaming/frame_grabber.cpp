// The grabber thread and the double buffer: the thread reads raw frames without pause into the
// two buffers, and each processing pass takes one filled buffer for conversion. The buffer
// states change only under stateLock; reading and converting run outside it.
#include "driver/device/camera_device.h"
#include "driver/streaming/capture_run.h"

namespace {

// Pause after a failed frame read before the next attempt: a read that fails at once (no pipe
// table, a camera that is gone) must not spin the thread.
constexpr LONGLONG FAILED_READ_PAUSE = -10 * 10000;  // 10 ms, relative
// How often a stop repeats its abort while the thread has not ended.
constexpr LONGLONG STOP_ABORT_INTERVAL = -10 * 10000;  // 10 ms, relative

bool Running(FrameGrabber* grabber) {
    return InterlockedCompareExchange(&grabber->running, 0, 0) != 0;
}

// Chooses the buffer to fill and marks it filling: a free one first; with none free, the one
// that is not being converted (a filled frame nobody took yet is overwritten).
PUCHAR SelectBufferToFill(FrameGrabber* grabber, LONG** state) {
    KIRQL oldIrql;
    KeAcquireSpinLock(&grabber->stateLock, &oldIrql);
    bool first;
    if (grabber->rawState0 == RAW_FREE) {
        first = true;
    } else if (grabber->rawState1 == RAW_FREE) {
        first = false;
    } else {
        first = grabber->rawState0 != RAW_CONVERTING;
    }
    *state = first ? &grabber->rawState0 : &grabber->rawState1;
    **state = RAW_FILLING;
    KeReleaseSpinLock(&grabber->stateLock, oldIrql);
    return first ? grabber->rawBuffer0 : grabber->rawBuffer1;
}

void SetBufferState(FrameGrabber* grabber, LONG* state, LONG value) {
    KIRQL oldIrql;
    KeAcquireSpinLock(&grabber->stateLock, &oldIrql);
    *state = value;
    KeReleaseSpinLock(&grabber->stateLock, oldIrql);
}

// Takes a filled buffer for conversion, buffer 0 whenever it is filled; null when none is.
PUCHAR TakeFilledBuffer(FrameGrabber* grabber, LONG** state) {
    PUCHAR buffer = nullptr;
    KIRQL oldIrql;
    KeAcquireSpinLock(&grabber->stateLock, &oldIrql);
    if (grabber->rawState0 >= 0 && grabber->rawState1 >= 0) {
        if (grabber->rawState0 == RAW_FILLED) {
            *state = &grabber->rawState0;
            buffer = grabber->rawBuffer0;
        } else if (grabber->rawState1 == RAW_FILLED) {
            *state = &grabber->rawState1;
            buffer = grabber->rawBuffer1;
        }
        if (buffer != nullptr) **state = RAW_CONVERTING;
    }
    KeReleaseSpinLock(&grabber->stateLock, oldIrql);
    return buffer;
}

}  // namespace

VOID StartGrabber(FrameGrabber* grabber) {
    grabber->rawState0 = RAW_FREE;
    grabber->rawState1 = RAW_FREE;
    InterlockedExchange(&grabber->running, 1);
    HANDLE handle = nullptr;
    NTSTATUS status = PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                           GrabberThread, grabber);
    if (!NT_SUCCESS(status) || handle == nullptr) return;
    PVOID thread = nullptr;
    status = ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode,
                                       &thread, nullptr);
    grabber->thread = NT_SUCCESS(status) ? static_cast<PKTHREAD>(thread) : nullptr;
    ZwClose(handle);
}

// After it returns neither the thread nor a conversion touches the run's buffers.
VOID StopGrabber(FrameGrabber* grabber) {
    InterlockedExchange(&grabber->running, 0);
    grabber->device->AbortPipes();
    if (grabber->thread != nullptr) {
        // A thread between two reads posts one more after the abort, which would then wait out
        // the whole frame time-out (a camera waiting for a trigger sends nothing): the abort is
        // repeated until the thread has ended.
        LARGE_INTEGER slice;
        slice.QuadPart = STOP_ABORT_INTERVAL;
        while (KeWaitForSingleObject(grabber->thread, Executive, KernelMode, FALSE, &slice) ==
               STATUS_TIMEOUT) {
            grabber->device->AbortPipes();
        }
        ObDereferenceObject(grabber->thread);
        grabber->thread = nullptr;
    }
    // A pass clears delivering before it signals, so one that ends between the reset and the
    // test cannot leave this wait hanging.
    KeResetEvent(&grabber->deliveryDone);
    if (InterlockedCompareExchange(&grabber->delivering, 0, 0) == 1) {
        KeWaitForSingleObject(&grabber->deliveryDone, Executive, KernelMode, FALSE, nullptr);
    }
}

VOID GrabberThread(PVOID context) {
    auto* grabber = static_cast<FrameGrabber*>(context);
    while (Running(grabber)) {
        LONG* state = nullptr;
        PUCHAR buffer = SelectBufferToFill(grabber, &state);
        const bool ok = GrabIntoBuffer(grabber, buffer);
        SetBufferState(grabber, state, ok ? RAW_FILLED : RAW_FREE);
        if (!ok) {
            if (Running(grabber)) {
                LARGE_INTEGER pause;
                pause.QuadPart = FAILED_READ_PAUSE;
                KeDelayExecutionThread(KernelMode, FALSE, &pause);
            }
            continue;
        }
        if (!Running(grabber)) break;
        grabber->device->FrameReady();
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

bool GrabIntoBuffer(FrameGrabber* grabber, PUCHAR buffer) {
    if (grabber->runMode != 2) return false;
    bool complete = false;
    grabber->device->ReadFrame(buffer, &complete);
    if (!complete) return false;
    InterlockedIncrement(&grabber->framesGrabbed);
    return true;
}

bool ConvertFilledBuffer(FrameGrabber* grabber) {
    // Marked before the test: a stop that clears running after this sees the pass and waits.
    InterlockedExchange(&grabber->delivering, 1);
    if (!Running(grabber)) return false;
    LONG* state = nullptr;
    PUCHAR buffer = TakeFilledBuffer(grabber, &state);
    if (buffer == nullptr) return false;
    CameraDevice* device = grabber->device;
    ULONG offset = 0;
    ULONG stride = 0;
    device->GetFrameOffset(&offset);
    device->GetFrameStride(&stride);
    offset +=
        static_cast<ULONG>(device->GetRoiY()) * stride + static_cast<ULONG>(device->GetRoiX());
    ConvertFrame(grabber->pipeline, buffer, static_cast<LONG>(offset), static_cast<LONG>(stride));
    SetBufferState(grabber, state, RAW_FREE);
    return true;
}
