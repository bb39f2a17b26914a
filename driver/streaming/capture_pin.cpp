// Pin creation and close, the PinContext, and the capture pin's descriptor, dispatch table and
// allocator framing.
#include "driver/streaming/capture_pin.h"

#include <new>

#include "driver/device/pool_tags.h"

PinContext::PinContext(PKSPIN ksPin, CameraDevice* camera)
    : pin(ksPin),
      device(camera),
      streamState(0),
      referenceClock(nullptr),
      videoInfo(),
      captureAcquired(0),
      rowBytes(0) {}

namespace {

// The connection format's video info header; its size was checked by SetPinFormat.
const KS_VIDEOINFOHEADER* ConnectionVideoInfo(PKSPIN pin) {
    return reinterpret_cast<const KS_VIDEOINFOHEADER*>(pin->ConnectionFormat + 1);
}

// The pin's private copies of its descriptor and framing; the frame size is the real one.
NTSTATUS SizePinFraming(PKSPIN pin, ULONG frameSize) {
    NTSTATUS status = _KsEdit(pin->Bag, (PVOID*)&pin->Descriptor, sizeof(KSPIN_DESCRIPTOR_EX),
                              sizeof(KSPIN_DESCRIPTOR_EX), POOL_TAG_FRAME);
    if (!NT_SUCCESS(status)) return status;
    auto* descriptor = const_cast<KSPIN_DESCRIPTOR_EX*>(pin->Descriptor);
    status =
        _KsEdit(pin->Bag, (PVOID*)&descriptor->AllocatorFraming, sizeof(KSALLOCATOR_FRAMING_EX),
                sizeof(KSALLOCATOR_FRAMING_EX), POOL_TAG_FRAME);
    if (!NT_SUCCESS(status)) return status;
    auto* framing = const_cast<KSALLOCATOR_FRAMING_EX*>(descriptor->AllocatorFraming);
    KS_FRAMING_ITEM* item = &framing->FramingItem[0];
    item->Frames = 2;
    item->PhysicalRange.MinFrameSize = frameSize;
    item->PhysicalRange.MaxFrameSize = frameSize;
    item->PhysicalRange.Stepping = 0;
    item->FramingRange.Range.MinFrameSize = frameSize;
    item->FramingRange.Range.MaxFrameSize = frameSize;
    item->FramingRange.Range.Stepping = 0;
    return STATUS_SUCCESS;
}

// SetPinFormat checked the format against the region before this pin locked it; a region
// changed in between leaves the format stale. Caller has locked the region.
bool FitsLockedRegion(CameraDevice* device, const KS_BITMAPINFOHEADER& header) {
    const LONG height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    return header.biWidth >= device->outputWidth && height == device->outputHeight;
}

}  // namespace

NTSTATUS CreatePin(PKSPIN pin, PIRP) {
    const KS_VIDEOINFOHEADER* connection = ConnectionVideoInfo(pin);
    // videoInfo holds a 40-byte bitmap header and no more.
    if (connection->bmiHeader.biSize > CAPTURE_BITMAP_HEADER_SIZE) return STATUS_INVALID_PARAMETER;
    CameraDevice* device = CameraDeviceOf(KsGetDevice(pin));
    if (device == nullptr) return STATUS_INVALID_DEVICE_STATE;
    PVOID memory = ExAllocatePoolWithTag(NonPagedPool, sizeof(PinContext), POOL_TAG_CAMERA);
    if (memory == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(memory, sizeof(PinContext));
    PinContext* context = new (memory) PinContext(pin, device);
    SetRoiLocked(device, 1);
    NTSTATUS status = FitsLockedRegion(device, connection->bmiHeader)
                          ? KsAddItemToObjectBag(pin->Bag, context, ReleasePinContext)
                          : STATUS_NO_MATCH;
    if (!NT_SUCCESS(status)) {
        // A pin that was never created holds no region lock.
        SetRoiLocked(device, 0);
        context->~PinContext();
        ExFreePoolWithTag(context, POOL_TAG_CAMERA);
        return status;
    }
    pin->Context = context;
    RtlCopyMemory(&context->videoInfo, connection,
                  offsetof(KS_VIDEOINFOHEADER, bmiHeader) + connection->bmiHeader.biSize);
    // The client's buffers have the connection format's rows from the first frame on; left at 0
    // until a format change, a format wider than the picture would be filled sheared. The
    // initial format's checks keep biWidth x 4 within 31 bits.
    context->rowBytes = context->videoInfo.bmiHeader.biWidth * 4;
    status = SizePinFraming(pin, context->videoInfo.bmiHeader.biSizeImage);
    if (!NT_SUCCESS(status)) {
        // The class driver calls no Close for a failed creation; the bag frees the context.
        SetRoiLocked(device, 0);
        pin->Context = nullptr;
    }
    return status;
}

NTSTATUS ClosePin(PKSPIN pin, PIRP) {
    PinContext* context = PinContextOf(pin);
    if (context != nullptr) {
        context->rowBytes = 0;
        SetRoiLocked(context->device, 0);
    }
    return STATUS_SUCCESS;
}

VOID ReleasePinContext(PVOID object) {
    if (object == nullptr) return;
    auto* context = static_cast<PinContext*>(object);
    context->~PinContext();
    ExFreePoolWithTag(context, POOL_TAG_CAMERA);
}

namespace {

const PKSDATARANGE CaptureDataRanges[] = {
    // The class driver only reads the stored range; each device offers its own copy.
    const_cast<PKSDATARANGE>(&CaptureDataRange.DataRange),
};

const KSPIN_DISPATCH CapturePinDispatch = {
    CreatePin,     // Create
    ClosePin,      // Close
    ProcessPin,    // Process
    nullptr,       // Reset
    SetPinFormat,  // SetDataFormat
    SetPinState,   // SetDeviceState
    nullptr,       // Connect
    nullptr,       // Disconnect
    nullptr,       // Clock
    nullptr,       // Allocator
};

}  // namespace

const KSALLOCATOR_FRAMING_EX CaptureFraming = {
    1,          // CountItems
    0,          // PinFlags
    {1, 1, 0},  // OutputCompression: ratio 1/1, constant margin 0
    0,          // PinWeight
    {{
        KSMEMORY_TYPE_KERNEL_NONPAGED,  // MemoryType
        KS_TYPE_DONT_CARE,              // BusType
        0,                              // MemoryFlags
        0,                              // BusFlags
        KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY |
            KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY,  // Flags
        2,                                              // Frames
        {FILE_BYTE_ALIGNMENT},                          // FileAlignment
        0,                                              // MemoryTypeWeight
        {0, 0xFFFFFFFF, 1},                             // PhysicalRange
        {{8192, 8192, 1}, 0, 0},  // FramingRange, InPlaceWeight, NotInPlaceWeight
    }},
};

const KSPIN_DESCRIPTOR_EX CapturePinDescriptor = {
    &CapturePinDispatch,  // Dispatch
    nullptr,              // AutomationTable
    {
        0,                         // InterfacesCount
        nullptr,                   // Interfaces
        0,                         // MediumsCount
        nullptr,                   // Mediums
        1,                         // DataRangesCount
        CaptureDataRanges,         // DataRanges
        KSPIN_DATAFLOW_OUT,        // DataFlow
        KSPIN_COMMUNICATION_BOTH,  // Communication
        &PIN_CATEGORY_CAPTURE,     // Category
        &PIN_CATEGORY_CAPTURE,     // Name
        {0},                       // ConstrainedDataRanges: none
    },
    KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING | KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING |
        KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY,  // Flags
    1,                                         // InstancesPossible
    1,                                         // InstancesNecessary
    &CaptureFraming,                           // AllocatorFraming
    IntersectFormat,                           // IntersectHandler
};
