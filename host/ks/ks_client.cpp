#include "host/ks/ks_client.h"

#include <algorithm>
#include <mutex>

#include "host/ks/driver_registry.h"
#include "host/ks/filter_factory.h"
#include "host/ks/ks_device.h"
#include "host/ks/ks_filter.h"
#include "host/ks/ks_pin.h"

namespace bayercam::host::ks {
namespace {

KsFilter* liveFilter(KsFilterHandle filter) {
    return findNodeAs<KsFilter>(filter, KsNode::Kind::Filter);
}

KsPin* livePin(KsPinHandle pin) { return findNodeAs<KsPin>(pin, KsNode::Kind::Pin); }

}  // namespace

KsClient::KsClient() noexcept
    : driver_(std::make_unique<DRIVER_OBJECT>()), extension_(std::make_unique<DRIVER_EXTENSION>()) {
    driver_->Size = sizeof(DRIVER_OBJECT);
    driver_->DriverExtension = extension_.get();
    extension_->DriverObject = driver_.get();
}

KsClient::~KsClient() {
    while (KsDevice* last = lastDevice()) detachDevice(last);
    forgetDriver(driver_.get());
}

KsDevice* KsClient::lastDevice() noexcept {
    std::lock_guard lock(devicesMutex_);
    return devices_.empty() ? nullptr : devices_.back().get();
}

NTSTATUS KsClient::loadDriver(PDRIVER_INITIALIZE driverEntry, PCWSTR registryPath) noexcept {
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, registryPath);
    return driverEntry(driver_.get(), &path);
}

KsDevice* KsClient::checkDevice(KsDeviceHandle device) noexcept {
    std::lock_guard lock(devicesMutex_);
    auto it = std::find_if(devices_.begin(), devices_.end(),
                           [device](const auto& d) { return d.get() == device; });
    return it == devices_.end() ? nullptr : it->get();
}

NTSTATUS KsClient::attachDevice(PDEVICE_OBJECT lowerDevice, KsDeviceHandle* device) noexcept {
    const KSDEVICE_DESCRIPTOR* descriptor = registeredDescriptor(driver_.get());
    if (descriptor == nullptr) return STATUS_DEVICE_NOT_READY;
    if (lowerDevice == nullptr || device == nullptr) return STATUS_INVALID_PARAMETER;
    std::unique_ptr<KsDevice> added;
    NTSTATUS status = KsDevice::add(driver_.get(), descriptor, lowerDevice, &added);
    if (!NT_SUCCESS(status)) return status;
    KsDevice* raw = added.get();
    {
        std::lock_guard lock(devicesMutex_);
        devices_.push_back(std::move(added));
    }
    *device = raw;
    return startDevice(raw);
}

NTSTATUS KsClient::startDevice(KsDeviceHandle device) noexcept {
    KsDevice* d = checkDevice(device);
    if (d == nullptr) return STATUS_INVALID_HANDLE;
    std::lock_guard lock(d->controlMutex());
    return d->start();
}

NTSTATUS KsClient::stopDevice(KsDeviceHandle device) noexcept {
    KsDevice* d = checkDevice(device);
    if (d == nullptr) return STATUS_INVALID_HANDLE;
    std::lock_guard lock(d->controlMutex());
    return d->stop();
}

NTSTATUS KsClient::detachDevice(KsDeviceHandle device) noexcept {
    std::unique_ptr<KsDevice> removed;
    {
        std::lock_guard lock(devicesMutex_);
        auto it = std::find_if(devices_.begin(), devices_.end(),
                               [device](const auto& d) { return d.get() == device; });
        if (it == devices_.end()) return STATUS_INVALID_HANDLE;
        removed = std::move(*it);
        devices_.erase(it);
    }
    {
        std::lock_guard lock(removed->controlMutex());
        removed->closeAllFilters();
        removed->stop();
    }
    removed.reset();
    return STATUS_SUCCESS;
}

PKSDEVICE KsClient::deviceObject(KsDeviceHandle device) noexcept {
    KsDevice* d = checkDevice(device);
    return d == nullptr ? nullptr : d->ks();
}

NTSTATUS KsClient::openFilter(KsDeviceHandle device, PCWSTR referenceString,
                              KsFilterHandle* filter) noexcept {
    KsDevice* d = checkDevice(device);
    if (d == nullptr) return STATUS_INVALID_HANDLE;
    if (referenceString == nullptr || filter == nullptr) return STATUS_INVALID_PARAMETER;
    std::lock_guard lock(d->controlMutex());
    if (!d->ks()->Started) return STATUS_DEVICE_NOT_READY;
    FilterFactory* factory = d->findFactory(referenceString);
    if (factory == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
    return factory->open(filter);
}

NTSTATUS KsClient::closeFilter(KsFilterHandle filter) noexcept {
    KsFilter* f = liveFilter(filter);
    if (f == nullptr) return STATUS_INVALID_HANDLE;
    std::lock_guard lock(f->device()->controlMutex());
    static_cast<FilterFactory*>(f->parent())->close(f);
    return STATUS_SUCCESS;
}

PKSFILTER KsClient::filterObject(KsFilterHandle filter) noexcept {
    KsFilter* f = liveFilter(filter);
    return f == nullptr ? nullptr : f->ks();
}

NTSTATUS KsClient::property(KsFilterHandle filter, const void* request, ULONG requestLength,
                            void* data, ULONG dataLength, ULONG* returned) noexcept {
    KsFilter* f = liveFilter(filter);
    if (f == nullptr) return STATUS_INVALID_HANDLE;
    ULONG ignored = 0;
    return f->property(request, requestLength, data, dataLength,
                       returned != nullptr ? returned : &ignored);
}

NTSTATUS KsClient::intersect(KsFilterHandle filter, ULONG pinId, const KSDATARANGE* range,
                             void* data, ULONG dataLength, ULONG* returned) noexcept {
    KsFilter* f = liveFilter(filter);
    if (f == nullptr) return STATUS_INVALID_HANDLE;
    if (returned == nullptr || (data == nullptr && dataLength != 0)) {
        return STATUS_INVALID_PARAMETER;
    }
    return f->intersect(pinId, range, data, dataLength, returned);
}

NTSTATUS KsClient::createPin(KsFilterHandle filter, ULONG pinId, const KSDATAFORMAT* format,
                             KsPinHandle* pin) noexcept {
    KsFilter* f = liveFilter(filter);
    if (f == nullptr) return STATUS_INVALID_HANDLE;
    if (pin == nullptr) return STATUS_INVALID_PARAMETER;
    return f->createPin(pinId, format, pin);
}

NTSTATUS KsClient::setPinFormat(KsPinHandle pin, const KSDATAFORMAT* format) noexcept {
    KsPin* p = livePin(pin);
    return p == nullptr ? STATUS_INVALID_HANDLE : p->setFormat(format);
}

NTSTATUS KsClient::setPinState(KsPinHandle pin, KSSTATE state) noexcept {
    KsPin* p = livePin(pin);
    return p == nullptr ? STATUS_INVALID_HANDLE : p->setState(state);
}

NTSTATUS KsClient::getPinState(KsPinHandle pin, KSSTATE* state) noexcept {
    KsPin* p = livePin(pin);
    if (p == nullptr) return STATUS_INVALID_HANDLE;
    if (state == nullptr) return STATUS_INVALID_PARAMETER;
    *state = p->state();
    return STATUS_SUCCESS;
}

NTSTATUS KsClient::closePin(KsPinHandle pin) noexcept {
    KsPin* p = livePin(pin);
    if (p == nullptr) return STATUS_INVALID_HANDLE;
    static_cast<KsFilter*>(p->parent())->closePin(p);
    return STATUS_SUCCESS;
}

PKSPIN KsClient::pinObject(KsPinHandle pin) noexcept {
    KsPin* p = livePin(pin);
    return p == nullptr ? nullptr : p->ks();
}

NTSTATUS KsClient::queueFrame(KsPinHandle pin, ULONG dataSize, bool withFrameInfo) noexcept {
    KsPin* p = livePin(pin);
    return p == nullptr ? STATUS_INVALID_HANDLE : p->queueFrame(dataSize, withFrameInfo);
}

NTSTATUS KsClient::queueFrame(KsPinHandle pin, std::vector<uint8_t> buffer,
                              bool withFrameInfo) noexcept {
    KsPin* p = livePin(pin);
    return p == nullptr ? STATUS_INVALID_HANDLE : p->queueFrame(std::move(buffer), withFrameInfo);
}

NTSTATUS KsClient::waitFrame(KsPinHandle pin, std::chrono::milliseconds timeout,
                             StreamFrame* frame) noexcept {
    KsPin* p = livePin(pin);
    if (p == nullptr) return STATUS_INVALID_HANDLE;
    if (frame == nullptr) return STATUS_INVALID_PARAMETER;
    return p->frames().wait(timeout, frame);
}

}  // namespace bayercam::host::ks
