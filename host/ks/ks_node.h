// The class driver's objects (device, filter factory, filter, pin) as one family, and the
// registry that maps the pointers a minidriver or client hands back to the object they denote.
#pragma once

#include "platform/ks.h"

namespace bayercam::host::ks {

class KsDevice;

class KsNode {
  public:
    enum class Kind { Device, Factory, Filter, Pin };

    KsNode(Kind kind, KsDevice* device, KsNode* parent) noexcept
        : kind_(kind), device_(device), parent_(parent) {}
    virtual ~KsNode() = default;
    KsNode(const KsNode&) = delete;
    KsNode& operator=(const KsNode&) = delete;

    Kind kind() const noexcept { return kind_; }
    KsDevice* device() const noexcept { return device_; }
    KsNode* parent() const noexcept { return parent_; }
    // The platform structure the minidriver sees (KSDEVICE, KSFILTERFACTORY, KSFILTER, KSPIN).
    virtual void* publicObject() noexcept = 0;

  private:
    Kind kind_;
    KsDevice* device_;
    KsNode* parent_;
};

// Registry of live objects by every address that may stand for them: the public structure, a
// functional device object, a file object. Thread-safe; a leaf lock.
void registerNode(const void* address, KsNode* node) noexcept;
void unregisterNode(const void* address) noexcept;
KsNode* findNode(const void* address) noexcept;

template <class T>
T* findNodeAs(const void* address, KsNode::Kind kind) noexcept {
    KsNode* node = findNode(address);
    return node != nullptr && node->kind() == kind ? static_cast<T*>(node) : nullptr;
}

}  // namespace bayercam::host::ks
