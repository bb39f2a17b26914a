// A filter instance: the KSFILTER the minidriver sees, its object bag, its pins, and the
// requests that clients send to it (properties, data intersection, pin creation).
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "host/ks/ks_node.h"
#include "host/ks/object_bag.h"

namespace bayercam::host::ks {

class FilterFactory;
class KsPin;

class KsFilter final : public KsNode {
  public:
    KsFilter(FilterFactory& factory, const KSFILTER_DESCRIPTOR* descriptor) noexcept;
    ~KsFilter() override;

    // The Create callback; on failure the bag is emptied and the filter must be discarded.
    NTSTATUS create() noexcept;
    // Closes every pin, calls Close and empties the bag.
    void close() noexcept;

    PKSFILTER ks() noexcept { return &ks_; }
    void* publicObject() noexcept override { return &ks_; }
    // The descriptor of pin factory id, or null when there is none.
    const KSPIN_DESCRIPTOR_EX* pinDescriptor(ULONG id) const noexcept;

    // A property request routed through the filter's automation table, or answered by the
    // class driver itself for the pin property set; returned gets the byte count of the answer
    // (or the size needed).
    NTSTATUS property(const void* request, ULONG requestLength, void* data, ULONG dataLength,
                      ULONG* returned) noexcept;
    // Data intersection of a client's range with the ranges of pin factory id.
    NTSTATUS intersect(ULONG pinId, const KSDATARANGE* range, void* data, ULONG dataLength,
                       ULONG* returned) noexcept;
    NTSTATUS createPin(ULONG pinId, const KSDATAFORMAT* format, KsPin** pin) noexcept;
    // Walks the pin to stop, calls its Close and frees it.
    void closePin(KsPin* pin) noexcept;

  private:
    ULONG instanceCount(ULONG pinId) const noexcept;  // caller holds control_
    // The class driver's own answer to a pin property (a KSP_PIN request); caller holds control_.
    NTSTATUS pinProperty(const void* request, ULONG requestLength, void* data, ULONG dataLength,
                         ULONG* returned) noexcept;

    KSFILTER ks_{};
    ObjectBag bag_;
    // Serialises the filter's control requests, as the platform's filter control mutex.
    std::mutex control_;
    std::vector<std::unique_ptr<KsPin>> pins_;  // guarded by control_
};

}  // namespace bayercam::host::ks
