// Data intersection: the client's data range against each matching range of a pin factory,
// through the pin's intersect handler, which also answers the size query.
#include <vector>

#include "host/kernel/verifier.h"
#include "host/ks/format_match.h"
#include "host/ks/ks_filter.h"
#include "host/ks/request_irp.h"

namespace bayercam::host::ks {

NTSTATUS KsFilter::intersect(ULONG pinId, const KSDATARANGE* range, void* data, ULONG dataLength,
                             ULONG* returned) noexcept {
    *returned = 0;
    const KSPIN_DESCRIPTOR_EX* descriptor = pinDescriptor(pinId);
    if (descriptor == nullptr) return STATUS_INVALID_PARAMETER;
    if (range == nullptr || range->FormatSize < sizeof(KSDATARANGE)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (descriptor->IntersectHandler == nullptr) {
        verifier::report("ks: data intersection without an intersect handler is not implemented");
        return STATUS_NOT_IMPLEMENTED;
    }
    std::lock_guard lock(control_);

    KSP_PIN request{};
    request.Property.Set = KSPROPSETID_Pin;
    request.Property.Id = KSPROPERTY_PIN_DATAINTERSECTION;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    request.PinId = pinId;
    std::vector<LONGLONG> rangeCopy((range->FormatSize + 7) / 8, 0);
    RtlCopyMemory(rangeCopy.data(), range, range->FormatSize);
    auto* callerRange = reinterpret_cast<PKSDATARANGE>(rangeCopy.data());
    std::vector<LONGLONG> dataCopy((dataLength + 7) / 8 + 1, 0);
    PVOID handlerData = dataLength != 0 ? dataCopy.data() : nullptr;

    RequestIrp irp(IRP_MJ_DEVICE_CONTROL, 0, &ks_);
    if (irp.get() == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    auto& parameters = irp.stack()->Parameters.DeviceIoControl;
    parameters.IoControlCode = IOCTL_KS_PROPERTY;
    parameters.InputBufferLength = sizeof(request) + range->FormatSize;
    parameters.OutputBufferLength = dataLength;
    parameters.Type3InputBuffer = &request;

    const KSPIN_DESCRIPTOR& pin = descriptor->PinDescriptor;
    for (ULONG i = 0; i < pin.DataRangesCount; ++i) {
        PKSDATARANGE candidate = pin.DataRanges[i];
        if (candidate == nullptr || !formatsMatch(*candidate, *callerRange)) continue;
        ULONG size = 0;
        NTSTATUS status = descriptor->IntersectHandler(&ks_, irp.get(), &request, callerRange,
                                                       candidate, dataLength, handlerData, &size);
        if (status == STATUS_NO_MATCH) continue;
        if (status == STATUS_BUFFER_OVERFLOW) *returned = size;
        if (NT_SUCCESS(status)) {
            if (size > dataLength) {
                verifier::report("ks: intersect handler reported more data than the buffer holds");
                size = dataLength;
            }
            if (size != 0) RtlCopyMemory(data, handlerData, size);
            *returned = size;
        }
        return status;
    }
    return STATUS_NO_MATCH;
}

}  // namespace bayercam::host::ks
