#include "host/ks/ks_filter.h"

#include <utility>

#include "host/ks/filter_factory.h"
#include "host/ks/ks_pin.h"
#include "host/ks/property_dispatch.h"
#include "host/ks/request_irp.h"

namespace bayercam::host::ks {

KsFilter::KsFilter(FilterFactory& factory, const KSFILTER_DESCRIPTOR* descriptor) noexcept
    : KsNode(Kind::Filter, factory.device(), &factory) {
    ks_.Descriptor = descriptor;
    ks_.Bag = bag_.handle();
    registerNode(&ks_, this);
    registerNode(this, this);
}

KsFilter::~KsFilter() {
    bag_.releaseAll();
    unregisterNode(this);
    unregisterNode(&ks_);
}

NTSTATUS KsFilter::create() noexcept {
    const KSFILTER_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    if (dispatch == nullptr || dispatch->Create == nullptr) return STATUS_SUCCESS;
    RequestIrp irp(IRP_MJ_CREATE, 0, &ks_);
    if (irp.get() == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = dispatch->Create(&ks_, irp.get());
    if (!NT_SUCCESS(status)) bag_.releaseAll();
    return status;
}

void KsFilter::close() noexcept {
    std::vector<std::unique_ptr<KsPin>> pins;
    {
        std::lock_guard lock(control_);
        pins.swap(pins_);
    }
    for (auto& pin : pins) pin->close();
    pins.clear();
    const KSFILTER_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->Close != nullptr) {
        RequestIrp irp(IRP_MJ_CLOSE, 0, &ks_);
        dispatch->Close(&ks_, irp.get());
    }
    bag_.releaseAll();
}

const KSPIN_DESCRIPTOR_EX* KsFilter::pinDescriptor(ULONG id) const noexcept {
    const KSFILTER_DESCRIPTOR* d = ks_.Descriptor;
    if (id >= d->PinDescriptorsCount || d->PinDescriptors == nullptr) return nullptr;
    ULONG stride = d->PinDescriptorSize != 0 ? d->PinDescriptorSize : sizeof(KSPIN_DESCRIPTOR_EX);
    return reinterpret_cast<const KSPIN_DESCRIPTOR_EX*>(
        reinterpret_cast<const char*>(d->PinDescriptors) + size_t{id} * stride);
}

NTSTATUS KsFilter::property(const void* request, ULONG requestLength, void* data, ULONG dataLength,
                            ULONG* returned) noexcept {
    std::lock_guard lock(control_);
    KSPROPERTY property{};
    if (request != nullptr && requestLength >= sizeof(property)) {
        RtlCopyMemory(&property, request, sizeof(property));
    }
    if (IsEqualGUID(property.Set, KSPROPSETID_Pin)) {
        return pinProperty(request, requestLength, data, dataLength, returned);
    }
    return dispatchProperty(ks_.Descriptor->AutomationTable, &ks_, request, requestLength, data,
                            dataLength, returned);
}

ULONG KsFilter::instanceCount(ULONG pinId) const noexcept {
    ULONG count = 0;
    for (const auto& pin : pins_) {
        if (pin->ks()->Id == pinId) ++count;
    }
    return count;
}

NTSTATUS KsFilter::createPin(ULONG pinId, const KSDATAFORMAT* format, KsPin** pin) noexcept {
    const KSPIN_DESCRIPTOR_EX* descriptor = pinDescriptor(pinId);
    if (descriptor == nullptr) return STATUS_INVALID_PARAMETER;
    std::lock_guard lock(control_);
    if (instanceCount(pinId) >= descriptor->InstancesPossible) return STATUS_UNSUCCESSFUL;
    std::unique_ptr<KsPin> created;
    NTSTATUS status = KsPin::create(*this, pinId, descriptor, format, &created);
    if (!NT_SUCCESS(status)) return status;
    *pin = created.get();
    pins_.push_back(std::move(created));
    return STATUS_SUCCESS;
}

void KsFilter::closePin(KsPin* pin) noexcept {
    std::unique_ptr<KsPin> closing;
    {
        std::lock_guard lock(control_);
        for (auto it = pins_.begin(); it != pins_.end(); ++it) {
            if (it->get() == pin) {
                closing = std::move(*it);
                pins_.erase(it);
                break;
            }
        }
    }
    if (closing) closing->close();
}

}  // namespace bayercam::host::ks
