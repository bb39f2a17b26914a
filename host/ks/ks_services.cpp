// The class driver services a minidriver calls, declared in platform/ks.h.
#include <cstring>
#include <mutex>

#include "host/kernel/verifier.h"
#include "host/ks/driver_registry.h"
#include "host/ks/filter_factory.h"
#include "host/ks/ks_device.h"
#include "host/ks/ks_filter.h"
#include "host/ks/ks_pin.h"
#include "host/ks/object_bag.h"
#include "host/ks/pin_clock.h"

using namespace bayercam::host::ks;
namespace verifier = bayercam::host::verifier;

namespace {

KsDevice* deviceOf(PKSDEVICE device, const char* caller) {
    auto* found = findNodeAs<KsDevice>(device, KsNode::Kind::Device);
    if (found == nullptr) verifier::report(caller);
    return found;
}

KsPin* pinOf(PKSPIN pin, const char* caller) {
    auto* found = findNodeAs<KsPin>(pin, KsNode::Kind::Pin);
    if (found == nullptr) verifier::report(caller);
    return found;
}

ObjectBag* bagOf(KSOBJECT_BAG bag, const char* caller) {
    ObjectBag* found = ObjectBag::lookUp(bag);
    if (found == nullptr) verifier::report(caller);
    return found;
}

}  // namespace

extern "C" {

NTSTATUS KsInitializeDriver(PDRIVER_OBJECT DriverObject, PUNICODE_STRING,
                            const KSDEVICE_DESCRIPTOR* Descriptor) {
    if (DriverObject == nullptr || Descriptor == nullptr) return STATUS_INVALID_PARAMETER;
    rememberDriver(DriverObject, Descriptor);
    return STATUS_SUCCESS;
}

VOID KsAcquireDevice(PKSDEVICE Device) {
    if (KsDevice* device = deviceOf(Device, "KsAcquireDevice: not a KS device")) {
        device->acquireMutex();
    }
}

VOID KsReleaseDevice(PKSDEVICE Device) {
    if (KsDevice* device = deviceOf(Device, "KsReleaseDevice: not a KS device")) {
        if (!device->releaseMutex()) {
            verifier::report("KsReleaseDevice: the device mutex is not held by this thread");
        }
    }
}

NTSTATUS KsCreateFilterFactory(PDEVICE_OBJECT DeviceObject, const KSFILTER_DESCRIPTOR* Descriptor,
                               PWSTR RefString, PSECURITY_DESCRIPTOR, ULONG CreateItemFlags,
                               PFNKSFILTERFACTORYPOWER, PFNKSFILTERFACTORYPOWER,
                               PKSFILTERFACTORY* FilterFactory) {
    auto* device = findNodeAs<KsDevice>(DeviceObject, KsNode::Kind::Device);
    if (device == nullptr || device->ks()->FunctionalDeviceObject != DeviceObject) {
        verifier::report(
            "ks: KsCreateFilterFactory: not the functional device object of a KS device");
        return STATUS_INVALID_PARAMETER;
    }
    return device->createFactory(Descriptor, RefString, CreateItemFlags, FilterFactory);
}

NTSTATUS KsAddItemToObjectBag(KSOBJECT_BAG ObjectBag, PVOID Item, PFNKSFREE Free) {
    class ObjectBag* bag = bagOf(ObjectBag, "KsAddItemToObjectBag: not an object bag");
    if (bag == nullptr) return STATUS_INVALID_PARAMETER;
    if (Item == nullptr) return STATUS_INVALID_PARAMETER;
    return bag->add(Item, Free);
}

NTSTATUS _KsEdit(KSOBJECT_BAG ObjectBag, PVOID* PointerToPointerToItem, ULONG NewSize,
                 ULONG OldSize, ULONG Tag) {
    class ObjectBag* bag = bagOf(ObjectBag, "_KsEdit: not an object bag");
    if (bag == nullptr || PointerToPointerToItem == nullptr) return STATUS_INVALID_PARAMETER;
    PVOID old = *PointerToPointerToItem;
    bool oldIsPrivate = old != nullptr && bag->contains(old);
    if (oldIsPrivate && NewSize <= OldSize) return STATUS_SUCCESS;
    PVOID copy = ExAllocatePoolWithTag(NonPagedPool, NewSize, Tag);
    if (copy == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    ULONG kept = old == nullptr ? 0 : (OldSize < NewSize ? OldSize : NewSize);
    if (kept != 0) RtlCopyMemory(copy, old, kept);
    RtlZeroMemory(static_cast<char*>(copy) + kept, NewSize - kept);
    NTSTATUS status = bag->add(copy, nullptr);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(copy, Tag);
        return status;
    }
    if (oldIsPrivate) bag->remove(old, true);
    *PointerToPointerToItem = copy;
    return STATUS_SUCCESS;
}

PKSDEVICE KsGetDevice(PVOID Object) {
    KsNode* node = findNode(Object);
    if (node == nullptr) {
        verifier::report("ks: KsGetDevice: not a KS object");
        return nullptr;
    }
    return node->device()->ks();
}

PVOID KsGetParent(PVOID Object) {
    KsNode* node = findNode(Object);
    if (node == nullptr) {
        verifier::report("ks: KsGetParent: not a KS object");
        return nullptr;
    }
    return node->parent() == nullptr ? nullptr : node->parent()->publicObject();
}

PKSFILTER KsGetFilterFromIrp(PIRP Irp) {
    if (Irp == nullptr) return nullptr;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    KsNode* node = stack == nullptr ? nullptr : findNode(stack->FileObject);
    if (node != nullptr && node->kind() == KsNode::Kind::Pin) node = node->parent();
    if (node == nullptr || node->kind() != KsNode::Kind::Filter) return nullptr;
    return static_cast<KsFilter*>(node)->ks();
}

NTSTATUS KsPinGetReferenceClockInterface(PKSPIN Pin, PIKSREFERENCECLOCK* Interface) {
    KsPin* pin = pinOf(Pin, "KsPinGetReferenceClockInterface: not a pin");
    if (pin == nullptr || Interface == nullptr) return STATUS_INVALID_PARAMETER;
    pin->clock().AddRef();
    *Interface = &pin->clock();
    return STATUS_SUCCESS;
}

PKSSTREAM_POINTER KsPinGetLeadingEdgeStreamPointer(PKSPIN Pin, KSSTREAM_POINTER_STATE State) {
    KsPin* pin = pinOf(Pin, "KsPinGetLeadingEdgeStreamPointer: not a pin");
    if (pin == nullptr) return nullptr;
    if (State != KSSTREAM_POINTER_STATE_LOCKED) {
        verifier::report(
            "ks: KsPinGetLeadingEdgeStreamPointer: only locked pointers are implemented");
        return nullptr;
    }
    return pin->frames().lockLeadingEdge();
}

VOID KsStreamPointerUnlock(PKSSTREAM_POINTER StreamPointer, BOOLEAN Eject) {
    if (StreamPointer == nullptr) {
        verifier::report("ks: KsStreamPointerUnlock: null stream pointer");
        return;
    }
    KsPin* pin = pinOf(StreamPointer->Pin, "KsStreamPointerUnlock: stream pointer of no pin");
    if (pin != nullptr && !pin->frames().unlock(StreamPointer, Eject != FALSE)) {
        verifier::report("ks: KsStreamPointerUnlock: the stream pointer is not locked");
    }
}

VOID KsPinAttemptProcessing(PKSPIN Pin, BOOLEAN) {
    if (KsPin* pin = pinOf(Pin, "KsPinAttemptProcessing: not a pin")) pin->processor().attempt();
}

}  // extern "C"
