// Format negotiation of the capture pin: the intersection handler and the acceptance of a
// connection format. Passive level. Sizes taken from a client's header are computed in 64 bits,
// and a format whose sizes do not fit 32 bits is refused.
#include "driver/streaming/capture_pin.h"

namespace {

// Where the video info header lies in a KS_DATARANGE_VIDEO, and its bitmap header in it.
constexpr ULONG RANGE_HEADER_OFFSET = offsetof(KS_DATARANGE_VIDEO, VideoInfoHeader);
constexpr ULONG BITMAP_HEADER_OFFSET = offsetof(KS_VIDEOINFOHEADER, bmiHeader);
constexpr ULONG FORMAT_HEADER_OFFSET = sizeof(KSDATAFORMAT);
constexpr LONGLONG LARGEST_SIZE = 0xFFFFFFFFLL;

bool AddOverflows(ULONG a, ULONG b) { return a + b < a; }

LONGLONG Magnitude(LONG value) { return value < 0 ? -static_cast<LONGLONG>(value) : value; }

// Bytes of an image of |biHeight| rows, each rounded up to 32 bits; -1 when negative or wider
// than 32 bits.
LONGLONG ImageSize(const KS_BITMAPINFOHEADER& header) {
    const LONGLONG bits = static_cast<LONGLONG>(header.biBitCount) * header.biWidth;
    if (bits < 0) return -1;
    const LONGLONG rowBytes = ((bits + 31) >> 5) * 4;
    const LONGLONG rows = Magnitude(header.biHeight);
    // Checked before multiplying: a 16-bit bit count, a 31-bit width and a 31-bit height
    // overflow even 64 bits.
    if (rowBytes != 0 && rows > LARGEST_SIZE / rowBytes) return -1;
    return rowBytes * rows;
}

// Checks 1 to 4 of an intersection: only a range that equals ours but for its header matches.
bool RangeMatches(const KS_DATARANGE_VIDEO* caller, const KS_DATARANGE_VIDEO* ours) {
    if (!IsEqualGUID(caller->DataRange.Specifier, KSDATAFORMAT_SPECIFIER_VIDEOINFO)) return false;
    if (caller->DataRange.FormatSize < sizeof(KS_DATARANGE_VIDEO)) return false;
    if (caller->bFixedSizeSamples != ours->bFixedSizeSamples ||
        caller->bTemporalCompression != ours->bTemporalCompression ||
        caller->StreamDescriptionFlags != ours->StreamDescriptionFlags ||
        caller->MemoryAllocationFlags != ours->MemoryAllocationFlags) {
        return false;
    }
    return RtlCompareMemory(&caller->ConfigCaps, &ours->ConfigCaps,
                            sizeof(KS_VIDEO_STREAM_CONFIG_CAPS)) ==
           sizeof(KS_VIDEO_STREAM_CONFIG_CAPS);
}

// The offered range as it stands: SetRoi rewrites it under the settings lock. False when the
// object has no camera device.
bool ReadOfferedRange(PVOID object, const KSDATARANGE* descriptorRange, KS_DATARANGE_VIDEO* copy) {
    CameraDevice* device = CameraDeviceOf(KsGetDevice(object));
    if (device == nullptr) return false;
    SettingsLockGuard guard(device);
    RtlCopyMemory(copy, descriptorRange, sizeof(KS_DATARANGE_VIDEO));
    return true;
}

}  // namespace

NTSTATUS IntersectFormat(PVOID filter, PIRP, PKSP_PIN, PKSDATARANGE callerRange,
                         PKSDATARANGE descriptorRange, ULONG dataBufferSize, PVOID data,
                         PULONG dataSize) {
    auto* caller = reinterpret_cast<const KS_DATARANGE_VIDEO*>(callerRange);
    KS_DATARANGE_VIDEO ours;
    if (!ReadOfferedRange(filter, descriptorRange, &ours)) return STATUS_INVALID_DEVICE_STATE;
    if (!RangeMatches(caller, &ours)) return STATUS_NO_MATCH;
    const ULONG b = caller->VideoInfoHeader.bmiHeader.biSize;
    // The answer's bitmap header carries the image size: a shorter one has no room for it.
    if (b < sizeof(KS_BITMAPINFOHEADER) || AddOverflows(b, BITMAP_HEADER_OFFSET) ||
        AddOverflows(b + BITMAP_HEADER_OFFSET, RANGE_HEADER_OFFSET) ||
        b + BITMAP_HEADER_OFFSET + RANGE_HEADER_OFFSET > caller->DataRange.FormatSize) {
        return STATUS_INVALID_PARAMETER;
    }
    const LONGLONG imageSize = ImageSize(caller->VideoInfoHeader.bmiHeader);
    if (imageSize < 0) return STATUS_INVALID_PARAMETER;
    const ULONG size = FORMAT_HEADER_OFFSET + BITMAP_HEADER_OFFSET + b;
    if (dataBufferSize == 0) {
        *dataSize = size;
        return STATUS_BUFFER_OVERFLOW;
    }
    if (dataBufferSize < size) return STATUS_BUFFER_TOO_SMALL;
    *dataSize = size;
    auto* format = static_cast<PUCHAR>(data);
    RtlCopyMemory(format, &ours, sizeof(KSDATAFORMAT));
    RtlCopyMemory(format + FORMAT_HEADER_OFFSET, &caller->VideoInfoHeader,
                  BITMAP_HEADER_OFFSET + b);
    auto* written = reinterpret_cast<PKS_DATAFORMAT_VIDEOINFOHEADER>(format);
    written->DataFormat.FormatSize = size;
    written->DataFormat.SampleSize = static_cast<ULONG>(imageSize);
    written->VideoInfoHeader.bmiHeader.biSizeImage = static_cast<ULONG>(imageSize);
    return STATUS_SUCCESS;
}

// A refused format, in any state, changes nothing in the PinContext: a row step wider than the
// client's buffers must never reach a running delivery.
NTSTATUS SetPinFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, PKSMULTIPLE_ITEM,
                      const KSDATARANGE* dataRange, const KSATTRIBUTE_LIST*) {
    const KSDATAFORMAT* format = pin->ConnectionFormat;
    if (!IsEqualGUID(format->Specifier, KSDATAFORMAT_SPECIFIER_VIDEOINFO) ||
        format->FormatSize < sizeof(KS_DATAFORMAT_VIDEOINFOHEADER)) {
        return STATUS_NO_MATCH;
    }
    auto* proposed = reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(format);
    const KS_BITMAPINFOHEADER& header = proposed->VideoInfoHeader.bmiHeader;
    const ULONG b = header.biSize;
    if (AddOverflows(b, BITMAP_HEADER_OFFSET) ||
        AddOverflows(b, FORMAT_HEADER_OFFSET + BITMAP_HEADER_OFFSET) ||
        format->FormatSize < b + FORMAT_HEADER_OFFSET + BITMAP_HEADER_OFFSET ||
        b > CAPTURE_BITMAP_HEADER_SIZE) {
        return STATUS_INVALID_PARAMETER;
    }
    KS_DATARANGE_VIDEO range;
    if (!ReadOfferedRange(pin, dataRange, &range)) return STATUS_INVALID_DEVICE_STATE;
    const KS_BITMAPINFOHEADER& offered = range.VideoInfoHeader.bmiHeader;
    if (header.biWidth < offered.biWidth ||
        Magnitude(header.biHeight) != Magnitude(offered.biHeight) ||
        header.biCompression != offered.biCompression) {
        return STATUS_NO_MATCH;
    }
    const LONGLONG rowBytes = static_cast<LONGLONG>(header.biWidth) * 4;
    if (rowBytes > 0x7FFFFFFF || header.biSizeImage < rowBytes * Magnitude(header.biHeight)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (oldFormat == nullptr) return STATUS_SUCCESS;
    if (pin->DeviceState != KSSTATE_STOP) return STATUS_INVALID_DEVICE_STATE;
    PinContext* context = PinContextOf(pin);
    context->rowBytes = static_cast<LONG>(rowBytes);
    RtlZeroMemory(&context->videoInfo, sizeof(context->videoInfo));
    RtlCopyMemory(&context->videoInfo, &proposed->VideoInfoHeader, BITMAP_HEADER_OFFSET + b);
    return STATUS_SUCCESS;
}
