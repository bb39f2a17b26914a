// The pin's state machine and the capture run behind it: taking the camera device at ACQUIRE,
// the run's buffers and thread at the first RUN, pausing, and the release at STOP. Passive
// level, one call at a time per pin (the class driver serialises the pin's control path).
#include "driver/control/image_settings.h"
#include "driver/control/region_of_interest.h"
#include "driver/device/pool_tags.h"
#include "driver/streaming/capture_run.h"

namespace {

PUCHAR AllocateFrameBuffer(SIZE_T bytes) {
    return static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, bytes, POOL_TAG_FRAME));
}

void FreeFrameBuffer(PUCHAR* buffer) {
    if (*buffer == nullptr) return;
    ExFreePoolWithTag(*buffer, POOL_TAG_FRAME);
    *buffer = nullptr;
}

void FreeRunBuffers(FrameGrabber* grabber) {
    ColorPipeline* pipeline = grabber->pipeline;
    if (pipeline != nullptr) {
        pipeline->outputFrame = nullptr;
        FreeFrameBuffer(&pipeline->workBuffer);
    }
    FreeFrameBuffer(&grabber->rgbFrame);
    FreeFrameBuffer(&grabber->rawBuffer0);
    FreeFrameBuffer(&grabber->rawBuffer1);
}

// The run's buffers: two raw frames of n bytes, the converted frame and the work buffer. On a
// failure nothing stays allocated.
NTSTATUS AllocateRunBuffers(FrameGrabber* grabber, ULONG n, LONG w, LONG h) {
    grabber->rawBuffer0 = AllocateFrameBuffer(n);
    grabber->rawBuffer1 = AllocateFrameBuffer(n);
    grabber->rgbFrame = AllocateFrameBuffer(static_cast<SIZE_T>(w) * static_cast<SIZE_T>(h) * 4);
    ColorPipeline* pipeline = grabber->pipeline;
    if (grabber->rawBuffer0 != nullptr && grabber->rawBuffer1 != nullptr &&
        grabber->rgbFrame != nullptr) {
        SetFrameSize(pipeline, w, h);
        AllocateWorkBuffer(pipeline);
        // Without a work buffer nothing would ever be converted into rgbFrame.
        if (pipeline->workBuffer != nullptr) return STATUS_SUCCESS;
    }
    FreeRunBuffers(grabber);
    return STATUS_INSUFFICIENT_RESOURCES;
}

}  // namespace

NTSTATUS AcquireCapture(CameraDevice* device, PinContext* context, PKS_VIDEOINFOHEADER videoInfo) {
    if (InterlockedCompareExchange(&device->captureBusy, 1, 0) != 0) {
        return STATUS_SHARING_VIOLATION;
    }
    device->videoFormat = videoInfo;
    FreeColorPipeline(DetachColorPipeline(device));
    if (videoInfo->bmiHeader.biBitCount != 32 || videoInfo->bmiHeader.biCompression != KS_BI_RGB) {
        ReleaseCapture(device);
        return STATUS_INVALID_PARAMETER;
    }
    ColorPipeline* pipeline = CreateColorPipeline();
    if (pipeline == nullptr) {
        ReleaseCapture(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    // Under the settings lock: no setting changed meanwhile is lost.
    AttachColorPipeline(device, pipeline);
    device->frameNotifier = context;
    return STATUS_SUCCESS;
}

VOID ReleaseCapture(CameraDevice* device) {
    // Detached under the settings lock: no property handler still works on it when it goes.
    FreeColorPipeline(DetachColorPipeline(device));
    device->frameNotifier = nullptr;
    device->videoFormat = nullptr;
    InterlockedExchange(&device->captureBusy, 0);
}

NTSTATUS StartCapture(CameraDevice* device) {
    FrameGrabber* grabber = device->frameGrabber;
    // The grabber's allocation at device start failed: there is nothing to run the capture.
    if (grabber == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    InterlockedExchange(reinterpret_cast<volatile LONG*>(&device->frameCount), 0);
    RefreshBayerPhase(device);
    if (device->colorPipeline != nullptr) {
        StoreBayerPhase(device->colorPipeline, static_cast<LONG>(device->bayerPhase));
    }
    const LONG h = device->roiH;
    const LONG w = device->roiW;
    InterlockedExchange(&grabber->delivering, 0);
    InterlockedExchange(&grabber->framesGrabbed, 0);
    grabber->pipeline = device->colorPipeline;
    device->StartSensor();
    ULONG n = 0;
    device->GetFrameSize(&n);
    // No frame geometry: a thread reading into empty buffers would be all the run could do.
    if (n == 0) return STATUS_UNSUCCESSFUL;
    NTSTATUS status = AllocateRunBuffers(grabber, n, w, h);
    if (!NT_SUCCESS(status)) return status;
    grabber->pipeline->outputFrame = grabber->rgbFrame;
    grabber->runMode = 2;
    StartGrabber(grabber);
    return STATUS_SUCCESS;
}

VOID EndCaptureRun(PinContext* context) {
    FrameGrabber* grabber = context->device->frameGrabber;
    StopGrabber(grabber);
    grabber->runMode = 0;
    FreeRunBuffers(grabber);
    context->streamState = 0;
}

namespace {

void StopState(PinContext* context) {
    if (context->streamState != 0) EndCaptureRun(context);
    if (context->captureAcquired == 0) return;
    if (context->referenceClock != nullptr) {
        context->referenceClock->Release();
        context->referenceClock = nullptr;
    }
    ReleaseCapture(context->device);
    context->captureAcquired = 0;
}

NTSTATUS AcquireState(PinContext* context) {
    NTSTATUS status = AcquireCapture(context->device, context, &context->videoInfo);
    if (!NT_SUCCESS(status)) {
        context->captureAcquired = 0;
        return status;
    }
    context->captureAcquired = 1;
    PIKSREFERENCECLOCK clock = nullptr;
    if (!NT_SUCCESS(KsPinGetReferenceClockInterface(context->pin, &clock))) clock = nullptr;
    context->referenceClock = clock;
    return status;
}

void PauseFromRun(PinContext* context) {
    FrameGrabber* grabber = context->device->frameGrabber;
    if (grabber != nullptr && grabber->runMode == 2) {
        StopGrabber(grabber);
        grabber->runMode = 1;
    }
    context->streamState = 1;
}

NTSTATUS RunState(PinContext* context) {
    FrameGrabber* grabber = context->device->frameGrabber;
    if (context->streamState == 1) {
        // Resume: the run's buffers and pipeline stay, the sensor is not started again.
        if (grabber->runMode == 1) {
            grabber->runMode = 2;
            StartGrabber(grabber);
        }
    } else {
        NTSTATUS status = StartCapture(context->device);
        if (!NT_SUCCESS(status)) return status;
    }
    context->streamState = 2;
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS SetPinState(PKSPIN pin, KSSTATE toState, KSSTATE fromState) {
    PinContext* context = PinContextOf(pin);
    if (context == nullptr) return STATUS_SUCCESS;
    switch (toState) {
        case KSSTATE_STOP:
            StopState(context);
            return STATUS_SUCCESS;
        case KSSTATE_ACQUIRE:
            if (fromState == KSSTATE_STOP) return AcquireState(context);
            if (context->streamState != 0) EndCaptureRun(context);
            return STATUS_SUCCESS;
        case KSSTATE_PAUSE:
            if (fromState == KSSTATE_RUN) PauseFromRun(context);
            return STATUS_SUCCESS;
        case KSSTATE_RUN:
            return RunState(context);
    }
    return STATUS_SUCCESS;
}
