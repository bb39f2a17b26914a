#include "host/kernel/device_object.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "host/kernel/failure_injection.h"
#include "host/kernel/irql.h"
#include "host/kernel/live_objects.h"
#include "host/kernel/pool.h"
#include "host/kernel/verifier.h"

namespace bayercam::host::devices {
namespace {

constexpr ULONG kDeviceTag = injection::kDeviceSite;
constexpr CSHORT kIoTypeDevice = 3;
constexpr SIZE_T kExtensionOffset = (sizeof(DEVICE_OBJECT) + 15) & ~SIZE_T{15};

struct DeviceRecord {
    PDEVICE_OBJECT lower = nullptr;  // the device this one is attached to
    std::wstring name;
};

// Guards the records and every device's AttachedDevice, NextDevice and StackSize links.
struct Registry {
    std::mutex lock;
    std::unordered_map<const DEVICE_OBJECT*, DeviceRecord> devices;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

std::wstring nameOf(PUNICODE_STRING name) {
    if (!name || !name->Buffer) return {};
    return std::wstring(name->Buffer, name->Length / sizeof(WCHAR));
}

bool nameTaken(const Registry& r, const std::wstring& name) {
    if (name.empty()) return false;
    for (const auto& entry : r.devices) {
        if (entry.second.name == name) return true;
    }
    return false;
}

void unlinkFromDriver(PDEVICE_OBJECT device) {
    PDRIVER_OBJECT driver = device->DriverObject;
    if (!driver) return;
    for (PDEVICE_OBJECT* link = &driver->DeviceObject; *link; link = &(*link)->NextDevice) {
        if (*link == device) {
            *link = device->NextDevice;
            return;
        }
    }
}

}  // namespace

bool isDeviceObject(const DEVICE_OBJECT* device) noexcept {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    return r.devices.count(device) != 0;
}

PDEVICE_OBJECT lowerDeviceOf(const DEVICE_OBJECT* device) noexcept {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    auto it = r.devices.find(device);
    return it == r.devices.end() ? nullptr : it->second.lower;
}

}  // namespace bayercam::host::devices

using namespace bayercam::host;
using devices::registry;

extern "C" NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                                   PUNICODE_STRING DeviceName, ULONG DeviceType,
                                   ULONG DeviceCharacteristics, BOOLEAN,
                                   PDEVICE_OBJECT* DeviceObject) {
    irql::checkPassive("IoCreateDevice");
    const SIZE_T bytes = devices::kExtensionOffset + DeviceExtensionSize;
    auto* device = static_cast<PDEVICE_OBJECT>(pool::allocateSystem(bytes, devices::kDeviceTag));
    if (!device) return STATUS_INSUFFICIENT_RESOURCES;
    std::memset(device, 0, bytes);
    device->Type = devices::kIoTypeDevice;
    device->Size = static_cast<USHORT>(bytes);
    device->DriverObject = DriverObject;
    device->Flags = DO_DEVICE_INITIALIZING;
    device->Characteristics = DeviceCharacteristics;
    device->DeviceType = DeviceType;
    device->StackSize = 1;
    if (DeviceExtensionSize) {
        device->DeviceExtension = reinterpret_cast<char*>(device) + devices::kExtensionOffset;
    }
    auto& r = registry();
    try {
        std::lock_guard guard(r.lock);
        std::wstring name = devices::nameOf(DeviceName);
        if (devices::nameTaken(r, name)) {
            pool::freeSystem(device, devices::kDeviceTag);
            return STATUS_OBJECT_NAME_COLLISION;
        }
        r.devices.emplace(device, devices::DeviceRecord{nullptr, std::move(name)});
        if (DriverObject) {
            device->NextDevice = DriverObject->DeviceObject;
            DriverObject->DeviceObject = device;
        }
    } catch (...) {
        pool::freeSystem(device, devices::kDeviceTag);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    live::created(live::Kind::DeviceObject);
    *DeviceObject = device;
    return STATUS_SUCCESS;
}

extern "C" VOID IoDeleteDevice(PDEVICE_OBJECT DeviceObject) {
    irql::checkPassive("IoDeleteDevice");
    auto& r = registry();
    {
        std::lock_guard guard(r.lock);
        auto it = r.devices.find(DeviceObject);
        if (it == r.devices.end()) {
            verifier::report("IoDeleteDevice of an object that is not a live device object");
            return;
        }
        if (DeviceObject->AttachedDevice) {
            verifier::report("IoDeleteDevice of a device that another device is attached to");
        }
        if (it->second.lower) {
            verifier::report(
                "IoDeleteDevice of a device still attached to a lower device; "
                "call IoDetachDevice first");
        }
        devices::unlinkFromDriver(DeviceObject);
        r.devices.erase(it);
    }
    pool::freeSystem(DeviceObject, devices::kDeviceTag);
    live::destroyed(live::Kind::DeviceObject);
}

extern "C" PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice,
                                                      PDEVICE_OBJECT TargetDevice) {
    irql::checkPassive("IoAttachDeviceToDeviceStack");
    auto& r = registry();
    std::lock_guard guard(r.lock);
    auto source = r.devices.find(SourceDevice);
    if (source == r.devices.end() || !r.devices.count(TargetDevice)) {
        verifier::report("IoAttachDeviceToDeviceStack with an object that is not a device");
        return nullptr;
    }
    if (source->second.lower) {
        verifier::report("IoAttachDeviceToDeviceStack of a device that is already attached");
        return nullptr;
    }
    PDEVICE_OBJECT top = TargetDevice;
    while (top->AttachedDevice) top = top->AttachedDevice;
    top->AttachedDevice = SourceDevice;
    SourceDevice->StackSize = static_cast<CCHAR>(top->StackSize + 1);
    source->second.lower = top;
    return top;
}

extern "C" VOID IoDetachDevice(PDEVICE_OBJECT TargetDevice) {
    irql::checkPassive("IoDetachDevice");
    auto& r = registry();
    std::lock_guard guard(r.lock);
    PDEVICE_OBJECT upper = r.devices.count(TargetDevice) ? TargetDevice->AttachedDevice : nullptr;
    if (!upper) {
        verifier::report("IoDetachDevice of a device that has no device attached to it");
        return;
    }
    TargetDevice->AttachedDevice = nullptr;
    auto it = r.devices.find(upper);
    if (it != r.devices.end()) it->second.lower = nullptr;
}
