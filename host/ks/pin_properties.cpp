// The class driver's own pin properties, answered from the filter's pin descriptors as the
// platform's class driver answers them. Of the pin property set only the data ranges of a pin
// factory are answered: a KSMULTIPLE_ITEM (the answer's size and the count of ranges), then each
// range, every one starting at an 8-byte boundary.
#include "host/ks/ks_filter.h"

namespace bayercam::host::ks {
namespace {

constexpr ULONG quadAligned(ULONG size) { return (size + 7) & ~ULONG{7}; }

}  // namespace

NTSTATUS KsFilter::pinProperty(const void* request, ULONG requestLength, void* data,
                               ULONG dataLength, ULONG* returned) noexcept {
    *returned = 0;
    if (requestLength < sizeof(KSP_PIN)) return STATUS_INVALID_BUFFER_SIZE;
    KSP_PIN pin;
    RtlCopyMemory(&pin, request, sizeof(pin));
    if (pin.Property.Id != KSPROPERTY_PIN_DATARANGES) return STATUS_NOT_FOUND;
    if (pin.Property.Flags != KSPROPERTY_TYPE_GET) return STATUS_INVALID_DEVICE_REQUEST;
    const KSPIN_DESCRIPTOR_EX* descriptor = pinDescriptor(pin.PinId);
    if (descriptor == nullptr) return STATUS_INVALID_PARAMETER;
    const KSPIN_DESCRIPTOR& factory = descriptor->PinDescriptor;
    KSMULTIPLE_ITEM header{sizeof(KSMULTIPLE_ITEM), factory.DataRangesCount};
    for (ULONG i = 0; i < factory.DataRangesCount; ++i) {
        header.Size += quadAligned(factory.DataRanges[i]->FormatSize);
    }
    if (dataLength == 0) {
        *returned = header.Size;
        return STATUS_BUFFER_OVERFLOW;
    }
    if (data == nullptr || dataLength < header.Size) return STATUS_BUFFER_TOO_SMALL;
    auto* answer = static_cast<UCHAR*>(data);
    RtlZeroMemory(answer, header.Size);
    RtlCopyMemory(answer, &header, sizeof(header));
    ULONG at = sizeof(header);
    for (ULONG i = 0; i < factory.DataRangesCount; ++i) {
        const KSDATARANGE* range = factory.DataRanges[i];
        RtlCopyMemory(answer + at, range, range->FormatSize);
        at += quadAligned(range->FormatSize);
    }
    *returned = header.Size;
    return STATUS_SUCCESS;
}

}  // namespace bayercam::host::ks
