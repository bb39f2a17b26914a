// A filter factory: the create item of one filter descriptor under a reference string, and the
// filter instances opened through it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/ks/ks_node.h"
#include "host/ks/object_bag.h"

namespace bayercam::host::ks {

class KsFilter;

class FilterFactory final : public KsNode {
  public:
    FilterFactory(KsDevice& device, const KSFILTER_DESCRIPTOR* descriptor,
                  std::wstring referenceString, ULONG createItemFlags) noexcept;
    ~FilterFactory() override;

    PKSFILTERFACTORY ks() noexcept { return &ks_; }
    void* publicObject() noexcept override { return &ks_; }
    const std::wstring& referenceString() const noexcept { return referenceString_; }
    bool freeOnStop() const noexcept { return (createItemFlags_ & KSCREATE_ITEM_FREEONSTOP) != 0; }

    // Opens a filter instance (its Create callback); on failure nothing is kept.
    NTSTATUS open(KsFilter** filter) noexcept;
    // Closes the instance (its pins first, then its Close callback) and frees it.
    void close(KsFilter* filter) noexcept;
    void closeAll() noexcept;
    size_t openFilterCount() noexcept;

  private:
    KSFILTERFACTORY ks_{};
    ObjectBag bag_;
    std::wstring referenceString_;
    ULONG createItemFlags_;
    std::mutex filtersMutex_;
    std::vector<std::unique_ptr<KsFilter>> filters_;  // guarded by filtersMutex_
};

}  // namespace bayercam::host::ks
