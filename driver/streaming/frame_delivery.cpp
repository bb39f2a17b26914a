// Delivery of one converted frame per processing pass: the notice from the grabber, the pass
// itself, the frame header and the copy into the client's frame with the flips.
#include "driver/control/region_of_interest.h"
#include "driver/streaming/capture_run.h"

namespace {

constexpr ULONG TIMED_FRAME_OPTIONS =
    KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_DURATIONVALID;
constexpr ULONG HEADER_WITH_FRAME_INFO = sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO);

LONG ReadAtomic(volatile LONG* field) { return InterlockedCompareExchange(field, 0, 0); }

// The geometry of one delivered picture.
struct PictureCopy {
    const UCHAR* rgbFrame;
    LONG sourceStep;  // roiW x 4: the converted frame's row length
    LONG width;       // W: pixels delivered per row
    LONG height;      // H: rows delivered
    LONG destinationStep;
    bool flipH;
    bool flipV;
};

// Bytes the copy writes into the client frame.
ULONGLONG PictureExtent(const PictureCopy& copy) {
    if (copy.height <= 0) return 0;
    return static_cast<ULONGLONG>(copy.height - 1) * static_cast<ULONG>(copy.destinationStep) +
           static_cast<ULONGLONG>(copy.width) * 4;
}

void MirrorRow(PUCHAR destination, const UCHAR* source, LONG width) {
    for (LONG i = 0; i < width; ++i) {
        RtlCopyMemory(destination + static_cast<SIZE_T>(width - 1 - i) * 4,
                      source + static_cast<SIZE_T>(i) * 4, 4);
    }
}

// Without flipV the client frame starts with the last converted row, so a bottom-up bitmap
// shows the sensor's first row at the top.
void CopyPicture(const PictureCopy& copy, PUCHAR destination) {
    for (LONG row = 0; row < copy.height; ++row) {
        const LONG sourceRow = copy.flipV ? row : copy.height - 1 - row;
        const UCHAR* source =
            copy.rgbFrame + static_cast<SIZE_T>(sourceRow) * static_cast<SIZE_T>(copy.sourceStep);
        PUCHAR target = destination + static_cast<SIZE_T>(row) * copy.destinationStep;
        if (copy.flipH) {
            MirrorRow(target, source, copy.width);
        } else {
            RtlCopyMemory(target, source, static_cast<SIZE_T>(copy.width) * 4);
        }
    }
}

void StampHeader(PinContext* context, PKSSTREAM_HEADER header) {
    header->DataUsed = context->videoInfo.bmiHeader.biSizeImage;
    header->PresentationTime.Numerator = 1;
    header->PresentationTime.Denominator = 1;
    header->Duration = context->videoInfo.AvgTimePerFrame;
    if (context->referenceClock == nullptr) {
        header->PresentationTime.Time = 0;
        return;
    }
    LONGLONG systemTime = 0;
    header->PresentationTime.Time = context->referenceClock->GetCorrelatedTime(&systemTime);
    header->OptionsFlags = TIMED_FRAME_OPTIONS;
    if (header->Size < HEADER_WITH_FRAME_INFO) return;
    auto* info = reinterpret_cast<PKS_FRAME_INFO>(header + 1);
    info->ExtendedHeaderSize = sizeof(KS_FRAME_INFO);
    info->PictureNumber = static_cast<ULONG>(
        ReadAtomic(reinterpret_cast<volatile LONG*>(&context->device->frameCount)));
    info->DropCount = 0;
}

// A client frame smaller than the picture goes back without picture data.
void DeliverFrame(PinContext* context, PKSSTREAM_POINTER pointer, const PictureCopy& copy) {
    PKSSTREAM_HEADER header = pointer->StreamHeader;
    const ULONGLONG needed = PictureExtent(copy);
    if (needed > header->FrameExtent ||
        context->videoInfo.bmiHeader.biSizeImage > header->FrameExtent) {
        header->DataUsed = 0;
        return;
    }
    StampHeader(context, header);
    CopyPicture(copy, static_cast<PUCHAR>(header->Data));
}

}  // namespace

void PinContext::RequestProcessing() { KsPinAttemptProcessing(pin, TRUE); }

NTSTATUS ProcessPin(PKSPIN pin) {
    PinContext* context = PinContextOf(pin);
    CameraDevice* device = context->device;
    FrameGrabber* grabber = device->frameGrabber;
    if (grabber == nullptr || ReadAtomic(&grabber->framesGrabbed) <= 0) return STATUS_PENDING;
    PKSSTREAM_POINTER pointer =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    const bool converted = ConvertFilledBuffer(grabber);
    if (pointer != nullptr) {
        if (converted) {
            PictureCopy copy;
            copy.rgbFrame = grabber->rgbFrame;
            copy.sourceStep = device->roiW * 4;
            copy.width = device->outputWidth;
            copy.height = device->outputHeight;
            copy.destinationStep =
                context->rowBytes > copy.width * 4 ? context->rowBytes : copy.width * 4;
            copy.flipH = GetFlipH(device) != 0;
            copy.flipV = GetFlipV(device) != 0;
            DeliverFrame(context, pointer, copy);
        }
        KsStreamPointerUnlock(pointer, TRUE);
    }
    InterlockedExchange(&grabber->delivering, 0);
    KeSetEvent(&grabber->deliveryDone, IO_NO_INCREMENT, FALSE);
    return STATUS_PENDING;
}
