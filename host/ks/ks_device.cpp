#include "host/ks/ks_device.h"

#include <utility>

#include "host/ks/filter_factory.h"
#include "host/ks/request_irp.h"

namespace bayercam::host::ks {

KsDevice::KsDevice(const KSDEVICE_DESCRIPTOR* descriptor) noexcept
    : KsNode(Kind::Device, this, nullptr) {
    ks_.Descriptor = descriptor;
    ks_.Bag = bag_.handle();
    ks_.SystemPowerState = PowerSystemWorking;
    ks_.DevicePowerState = PowerDeviceD0;
}

void KsDevice::acquireMutex() noexcept {
    deviceMutex_.lock();
    mutexOwner_ = std::this_thread::get_id();
    ++mutexDepth_;
}

bool KsDevice::releaseMutex() noexcept {
    if (mutexOwner_ != std::this_thread::get_id()) return false;
    if (--mutexDepth_ == 0) mutexOwner_ = std::thread::id();
    deviceMutex_.unlock();
    return true;
}

NTSTATUS KsDevice::add(PDRIVER_OBJECT driver, const KSDEVICE_DESCRIPTOR* descriptor,
                       PDEVICE_OBJECT lowerDevice, std::unique_ptr<KsDevice>* device) noexcept {
    PDEVICE_OBJECT fdo = nullptr;
    NTSTATUS status =
        IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_KS, FILE_DEVICE_SECURE_OPEN, FALSE, &fdo);
    if (!NT_SUCCESS(status)) return status;
    PDEVICE_OBJECT next = IoAttachDeviceToDeviceStack(fdo, lowerDevice);
    if (next == nullptr) {
        IoDeleteDevice(fdo);
        return STATUS_NO_SUCH_DEVICE;
    }
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;

    std::unique_ptr<KsDevice> created(new KsDevice(descriptor));
    created->ks_.FunctionalDeviceObject = fdo;
    created->ks_.PhysicalDeviceObject = lowerDevice;
    created->ks_.NextDeviceObject = next;
    registerNode(&created->ks_, created.get());
    registerNode(fdo, created.get());
    registerNode(created.get(), created.get());

    const KSDEVICE_DISPATCH* dispatch = descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->Add != nullptr) {
        status = dispatch->Add(&created->ks_);
        if (!NT_SUCCESS(status)) return status;  // the destructor undoes everything
    }
    created->added_ = true;
    *device = std::move(created);
    return STATUS_SUCCESS;
}

KsDevice::~KsDevice() {
    if (ks_.Started) stop();
    const KSDEVICE_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    if (added_ && dispatch != nullptr) callIrpVoid(dispatch->Remove, IRP_MN_REMOVE_DEVICE);
    freeFactories(false);
    bag_.releaseAll();
    unregisterNode(this);
    unregisterNode(ks_.FunctionalDeviceObject);
    unregisterNode(&ks_);
    IoDetachDevice(ks_.NextDeviceObject);
    IoDeleteDevice(ks_.FunctionalDeviceObject);
}

NTSTATUS KsDevice::start() noexcept {
    if (ks_.Started) return STATUS_SUCCESS;
    const KSDEVICE_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    NTSTATUS status = STATUS_SUCCESS;
    if (dispatch != nullptr && dispatch->Start != nullptr) {
        RequestIrp irp(IRP_MJ_PNP, IRP_MN_START_DEVICE, nullptr);
        if (irp.get() == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
        status = dispatch->Start(&ks_, irp.get(), nullptr, nullptr);
    }
    if (!NT_SUCCESS(status)) {
        // A device that failed to start keeps no free-on-stop factories.
        freeFactories(true);
        return status;
    }
    if (dispatch != nullptr && dispatch->PostStart != nullptr) {
        status = dispatch->PostStart(&ks_);
        if (!NT_SUCCESS(status)) return status;
    }
    ks_.Started = TRUE;
    return STATUS_SUCCESS;
}

NTSTATUS KsDevice::stop() noexcept {
    if (!ks_.Started) return STATUS_SUCCESS;
    if (hasOpenFilters()) return STATUS_INVALID_DEVICE_STATE;
    freeFactories(true);
    const KSDEVICE_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    if (dispatch != nullptr) callIrpVoid(dispatch->Stop, IRP_MN_STOP_DEVICE);
    ks_.Started = FALSE;
    return STATUS_SUCCESS;
}

void KsDevice::callIrpVoid(PFNKSDEVICEIRPVOID callback, UCHAR minorFunction) noexcept {
    if (callback == nullptr) return;
    RequestIrp irp(IRP_MJ_PNP, minorFunction, nullptr);
    // PnP stop and removal cannot be refused; without a request the callback gets none.
    callback(&ks_, irp.get());
}

NTSTATUS KsDevice::createFactory(const KSFILTER_DESCRIPTOR* descriptor, PCWSTR referenceString,
                                 ULONG createItemFlags, PKSFILTERFACTORY* factory) noexcept {
    if (descriptor == nullptr || referenceString == nullptr) return STATUS_INVALID_PARAMETER;
    std::wstring_view name(referenceString);
    std::lock_guard lock(factoriesMutex_);
    for (const auto& existing : factories_) {
        if (existing->referenceString() == name) return STATUS_OBJECT_NAME_COLLISION;
    }
    factories_.push_back(
        std::make_unique<FilterFactory>(*this, descriptor, std::wstring(name), createItemFlags));
    if (factory != nullptr) *factory = factories_.back()->ks();
    return STATUS_SUCCESS;
}

FilterFactory* KsDevice::findFactory(std::wstring_view referenceString) noexcept {
    std::lock_guard lock(factoriesMutex_);
    for (const auto& factory : factories_) {
        if (factory->referenceString() == referenceString) return factory.get();
    }
    return nullptr;
}

bool KsDevice::hasOpenFilters() noexcept {
    std::lock_guard lock(factoriesMutex_);
    for (const auto& factory : factories_) {
        if (factory->openFilterCount() != 0) return true;
    }
    return false;
}

void KsDevice::closeAllFilters() noexcept {
    std::vector<FilterFactory*> factories;
    {
        std::lock_guard lock(factoriesMutex_);
        for (const auto& factory : factories_) factories.push_back(factory.get());
    }
    // Factories go away only in PnP steps, which the caller's control lock keeps out.
    for (FilterFactory* factory : factories) factory->closeAll();
}

void KsDevice::freeFactories(bool onlyFreeOnStop) noexcept {
    std::vector<std::unique_ptr<FilterFactory>> freed;
    {
        std::lock_guard lock(factoriesMutex_);
        for (auto it = factories_.begin(); it != factories_.end();) {
            if (!onlyFreeOnStop || (*it)->freeOnStop()) {
                freed.push_back(std::move(*it));
                it = factories_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Destroyed outside the lock: a factory's bag callbacks belong to the minidriver.
    freed.clear();
}

}  // namespace bayercam::host::ks
