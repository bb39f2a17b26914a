// A KS device: the functional device object over the next lower device, the KSDEVICE the
// minidriver sees, its object bag and device mutex, its filter factories, and the PnP steps
// Add, Start, Stop and removal.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <string_view>
#include <vector>

#include "host/ks/ks_node.h"
#include "host/ks/object_bag.h"

namespace bayercam::host::ks {

class FilterFactory;

class KsDevice final : public KsNode {
  public:
    // Creates the functional device object over lowerDevice and calls Add. On failure nothing
    // is left behind.
    static NTSTATUS add(PDRIVER_OBJECT driver, const KSDEVICE_DESCRIPTOR* descriptor,
                        PDEVICE_OBJECT lowerDevice, std::unique_ptr<KsDevice>* device) noexcept;
    // Removal: stops a started device, calls Remove, frees the factories and the object bag,
    // detaches and deletes the functional device object. Every filter must be closed.
    ~KsDevice() override;

    NTSTATUS start() noexcept;
    // Refused with STATUS_INVALID_DEVICE_STATE while a filter is open.
    NTSTATUS stop() noexcept;

    PKSDEVICE ks() noexcept { return &ks_; }
    void* publicObject() noexcept override { return &ks_; }
    ObjectBag& bag() noexcept { return bag_; }
    // The device mutex of KsAcquireDevice / KsReleaseDevice; recursive, as the platform's.
    void acquireMutex() noexcept;
    // False, releasing nothing, when the calling thread does not hold the mutex (the platform
    // stops the machine there).
    bool releaseMutex() noexcept;
    // Serialises PnP steps with filter opens and closes from clients.
    std::mutex& controlMutex() noexcept { return controlMutex_; }

    NTSTATUS createFactory(const KSFILTER_DESCRIPTOR* descriptor, PCWSTR referenceString,
                           ULONG createItemFlags, PKSFILTERFACTORY* factory) noexcept;
    // The factory whose create item has this reference string, or null.
    FilterFactory* findFactory(std::wstring_view referenceString) noexcept;
    bool hasOpenFilters() noexcept;
    void closeAllFilters() noexcept;

  private:
    KsDevice(const KSDEVICE_DESCRIPTOR* descriptor) noexcept;
    void freeFactories(bool onlyFreeOnStop) noexcept;
    void callIrpVoid(PFNKSDEVICEIRPVOID callback, UCHAR minorFunction) noexcept;

    KSDEVICE ks_{};
    bool added_ = false;  // Add succeeded: removal calls Remove
    ObjectBag bag_;
    std::recursive_mutex deviceMutex_;
    std::atomic<std::thread::id> mutexOwner_{};
    int mutexDepth_ = 0;  // guarded by deviceMutex_
    std::mutex controlMutex_;
    std::mutex factoriesMutex_;
    std::vector<std::unique_ptr<FilterFactory>> factories_;  // guarded by factoriesMutex_
};

}  // namespace bayercam::host::ks
