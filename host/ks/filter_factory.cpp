#include "host/ks/filter_factory.h"

#include <utility>

#include "host/ks/ks_device.h"
#include "host/ks/ks_filter.h"

namespace bayercam::host::ks {

FilterFactory::FilterFactory(KsDevice& device, const KSFILTER_DESCRIPTOR* descriptor,
                             std::wstring referenceString, ULONG createItemFlags) noexcept
    : KsNode(Kind::Factory, &device, &device),
      referenceString_(std::move(referenceString)),
      createItemFlags_(createItemFlags) {
    ks_.FilterDescriptor = descriptor;
    ks_.Bag = bag_.handle();
    registerNode(&ks_, this);
}

FilterFactory::~FilterFactory() {
    bag_.releaseAll();
    unregisterNode(&ks_);
}

NTSTATUS FilterFactory::open(KsFilter** filter) noexcept {
    auto created = std::make_unique<KsFilter>(*this, ks_.FilterDescriptor);
    NTSTATUS status = created->create();
    if (!NT_SUCCESS(status)) return status;
    *filter = created.get();
    std::lock_guard lock(filtersMutex_);
    filters_.push_back(std::move(created));
    return STATUS_SUCCESS;
}

void FilterFactory::close(KsFilter* filter) noexcept {
    std::unique_ptr<KsFilter> closing;
    {
        std::lock_guard lock(filtersMutex_);
        for (auto it = filters_.begin(); it != filters_.end(); ++it) {
            if (it->get() == filter) {
                closing = std::move(*it);
                filters_.erase(it);
                break;
            }
        }
    }
    if (closing) closing->close();
}

void FilterFactory::closeAll() noexcept {
    std::vector<std::unique_ptr<KsFilter>> closing;
    {
        std::lock_guard lock(filtersMutex_);
        closing.swap(filters_);
    }
    for (auto& filter : closing) filter->close();
}

size_t FilterFactory::openFilterCount() noexcept {
    std::lock_guard lock(filtersMutex_);
    return filters_.size();
}

}  // namespace bayercam::host::ks
