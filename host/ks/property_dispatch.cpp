#include "host/ks/property_dispatch.h"

#include <vector>

#include "host/ks/request_irp.h"

namespace bayercam::host::ks {
namespace {

const KSPROPERTY_SET* findSet(const KSAUTOMATION_TABLE* table, const GUID& setId) {
    if (table == nullptr) return nullptr;
    for (ULONG s = 0; s < table->PropertySetsCount; ++s) {
        const KSPROPERTY_SET& set = table->PropertySets[s];
        if (set.Set != nullptr && IsEqualGUID(*set.Set, setId)) return &set;
    }
    return nullptr;
}

const KSPROPERTY_ITEM* findItem(const KSAUTOMATION_TABLE& table, const KSPROPERTY_SET& set,
                                ULONG id) {
    ULONG stride = table.PropertyItemSize != 0 ? table.PropertyItemSize : sizeof(KSPROPERTY_ITEM);
    for (ULONG i = 0; i < set.PropertiesCount; ++i) {
        auto* item = reinterpret_cast<const KSPROPERTY_ITEM*>(
            reinterpret_cast<const char*>(set.PropertyItem) + size_t{i} * stride);
        if (item->PropertyId == id) return item;
    }
    return nullptr;
}

// The handler the verb asks for, or null when the item does not offer it.
PFNKSHANDLER handlerFor(const KSPROPERTY_ITEM& item, ULONG flags) {
    switch (flags) {
        case KSPROPERTY_TYPE_GET:
            return item.GetPropertyHandler;
        case KSPROPERTY_TYPE_SET:
            return item.SetPropertyHandler;
        case KSPROPERTY_TYPE_BASICSUPPORT:
            return item.SupportHandler;
        default:
            return nullptr;
    }
}

// Private, 8-byte aligned copy of a caller's buffer.
std::vector<LONGLONG> copyOf(const void* buffer, ULONG length) {
    std::vector<LONGLONG> copy((length + 7) / 8 + 1, 0);
    if (buffer != nullptr && length != 0) RtlCopyMemory(copy.data(), buffer, length);
    return copy;
}

}  // namespace

NTSTATUS dispatchProperty(const KSAUTOMATION_TABLE* table, PVOID fileObject, const void* request,
                          ULONG requestLength, void* data, ULONG dataLength,
                          ULONG* returned) noexcept {
    *returned = 0;
    if (request == nullptr || requestLength < sizeof(KSPROPERTY)) return STATUS_INVALID_BUFFER_SIZE;
    std::vector<LONGLONG> requestCopy = copyOf(request, requestLength);
    auto* property = reinterpret_cast<KSPROPERTY*>(requestCopy.data());

    const KSPROPERTY_SET* set = findSet(table, property->Set);
    if (set == nullptr) return STATUS_PROPSET_NOT_FOUND;
    const KSPROPERTY_ITEM* item = findItem(*table, *set, property->Id);
    if (item == nullptr) return STATUS_NOT_FOUND;
    PFNKSHANDLER handler = handlerFor(*item, property->Flags);
    if (handler == nullptr) return STATUS_INVALID_DEVICE_REQUEST;
    if (requestLength < item->MinProperty) return STATUS_INVALID_BUFFER_SIZE;
    bool support = property->Flags == KSPROPERTY_TYPE_BASICSUPPORT;
    if (!support && dataLength < item->MinData) {
        if (dataLength != 0) return STATUS_BUFFER_TOO_SMALL;
        *returned = item->MinData;
        return STATUS_BUFFER_OVERFLOW;
    }

    RequestIrp irp(IRP_MJ_DEVICE_CONTROL, 0, fileObject);
    if (irp.get() == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    std::vector<LONGLONG> dataCopy = copyOf(data, dataLength);
    PVOID handlerData = dataLength != 0 ? dataCopy.data() : nullptr;
    auto& parameters = irp.stack()->Parameters.DeviceIoControl;
    parameters.IoControlCode = IOCTL_KS_PROPERTY;
    parameters.InputBufferLength = requestLength;
    parameters.OutputBufferLength = dataLength;
    parameters.Type3InputBuffer = property;
    irp.get()->UserBuffer = data;
    irp.get()->AssociatedIrp.SystemBuffer = handlerData;
    irp.get()->IoStatus.Information = support ? 0 : item->MinData;

    NTSTATUS status = handler(irp.get(), property, handlerData);
    irp.get()->IoStatus.Status = status;
    if (NT_SUCCESS(status)) {
        ULONG_PTR information = irp.get()->IoStatus.Information;
        *returned = information < dataLength ? static_cast<ULONG>(information) : dataLength;
        if (dataLength != 0) RtlCopyMemory(data, dataCopy.data(), dataLength);
    }
    return status;
}

}  // namespace bayercam::host::ks
