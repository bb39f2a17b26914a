#include "tests/host/ks/test_minidriver.h"

#include <cstring>

namespace testminidriver {

TestDriver testDriver;

namespace {

constexpr ULONG kContextTag = 'T' | ('d' << 8) | ('C' << 16) | ('x' << 24);

void Record(EventKind kind, LONG first, LONG second) {
    if (testDriver.eventCount < kMaxEvents) {
        testDriver.events[testDriver.eventCount++] = Event{kind, first, second};
    }
}

PVOID AllocateContext() { return ExAllocatePoolWithTag(NonPagedPool, 16, kContextTag); }

void ReleaseFirstItem(PVOID item) {
    Record(kReleaseFirstItem, 0, 0);
    ExFreePoolWithTag(item, kContextTag);
}

void ReleaseSecondItem(PVOID item) {
    Record(kReleaseSecondItem, 0, 0);
    ExFreePoolWithTag(item, kContextTag);
}

// ---------------------------------------------------------------- device

NTSTATUS DeviceAdd(PKSDEVICE device) {
    Record(kAdd, 0, 0);
    PVOID first = AllocateContext();
    PVOID second = AllocateContext();
    if (first == nullptr || second == nullptr) {
        if (first != nullptr) ExFreePoolWithTag(first, kContextTag);
        if (second != nullptr) ExFreePoolWithTag(second, kContextTag);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    KsAddItemToObjectBag(device->Bag, first, ReleaseFirstItem);
    KsAddItemToObjectBag(device->Bag, second, ReleaseSecondItem);
    // A second insertion of the same item must not release it twice.
    KsAddItemToObjectBag(device->Bag, first, ReleaseFirstItem);
    device->Context = first;
    return STATUS_SUCCESS;
}

extern const KSFILTER_DESCRIPTOR filterDescriptor;

NTSTATUS DeviceStart(PKSDEVICE device, PIRP, PCM_RESOURCE_LIST, PCM_RESOURCE_LIST) {
    NTSTATUS status = STATUS_SUCCESS;
    if (!device->Started) {
        KsAcquireDevice(device);
        status = KsCreateFilterFactory(device->FunctionalDeviceObject, &filterDescriptor,
                                       const_cast<PWSTR>(L"GLOBAL"), nullptr,
                                       KSCREATE_ITEM_FREEONSTOP, nullptr, nullptr, nullptr);
        KsReleaseDevice(device);
    }
    Record(kStart, status, device->Started);
    return STATUS_SUCCESS;
}

void DeviceStop(PKSDEVICE, PIRP) { Record(kStop, 0, 0); }

// ---------------------------------------------------------------- filter and properties

NTSTATUS FilterCreate(PKSFILTER filter, PIRP irp) {
    Record(kFilterCreate, KsGetFilterFromIrp(irp) == filter, 0);
    PVOID context = AllocateContext();
    if (context == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = KsAddItemToObjectBag(filter->Bag, context, nullptr);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(context, kContextTag);
        return status;
    }
    filter->Context = context;
    return STATUS_SUCCESS;
}

NTSTATUS FilterClose(PKSFILTER, PIRP) {
    Record(kFilterClose, 0, 0);
    return STATUS_SUCCESS;
}

NTSTATUS GetHandler(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    Record(kHandler, static_cast<LONG>(request->Id), 0);
    testDriver.filterSeenByHandler = KsGetFilterFromIrp(irp);
    *static_cast<LONG*>(data) = testDriver.propertyValue;
    irp->IoStatus.Information = sizeof(LONG);
    return STATUS_SUCCESS;
}

NTSTATUS SetHandler(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    Record(kHandler, static_cast<LONG>(request->Id), 0);
    testDriver.filterSeenByHandler = KsGetFilterFromIrp(irp);
    testDriver.propertyValue = *static_cast<LONG*>(data);
    return STATUS_SUCCESS;
}

const KSPROPERTY_ITEM propertyItems[] = {
    {0,
     {GetHandler},
     sizeof(KSPROPERTY),
     sizeof(LONG),
     {SetHandler},
     nullptr,
     0,
     nullptr,
     nullptr,
     0},
    {1, {GetHandler}, sizeof(KSPROPERTY) + 8, 8, {nullptr}, nullptr, 0, nullptr, nullptr, 0},
    {2, {nullptr}, sizeof(KSPROPERTY), sizeof(LONG), {SetHandler}, nullptr, 0, nullptr, nullptr, 0},
};

const KSPROPERTY_SET propertySets[] = {
    {&kTestPropertySet, 3, propertyItems, 0, nullptr},
};

const KSAUTOMATION_TABLE filterAutomation = {
    1, sizeof(KSPROPERTY_ITEM), propertySets, 0, sizeof(KSMETHOD_ITEM), nullptr,
    0, sizeof(KSEVENT_ITEM),    nullptr,
};

// ---------------------------------------------------------------- pin

NTSTATUS PinSetDataFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, PKSMULTIPLE_ITEM, const KSDATARANGE*,
                          const KSATTRIBUTE_LIST*) {
    Record(kSetDataFormat, static_cast<LONG>(pin->ConnectionFormat->SampleSize),
           oldFormat != nullptr);
    return pin->ConnectionFormat->SampleSize == kRefusedSampleSize ? STATUS_NO_MATCH
                                                                   : STATUS_SUCCESS;
}

NTSTATUS PinCreate(PKSPIN pin, PIRP irp) {
    Record(kPinCreate, KsGetFilterFromIrp(irp) == KsPinGetParentFilter(pin), 0);
    PVOID context = AllocateContext();
    if (context == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = KsAddItemToObjectBag(pin->Bag, context, nullptr);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(context, kContextTag);
        return status;
    }
    pin->Context = context;
    status = KsEdit(pin, &pin->Descriptor, kTestEditTag);
    if (!NT_SUCCESS(status)) return status;
    auto* descriptor = const_cast<PKSPIN_DESCRIPTOR_EX>(pin->Descriptor);
    status = KsEdit(pin, &descriptor->AllocatorFraming, kTestEditTag);
    if (!NT_SUCCESS(status)) return status;
    const_cast<PKSALLOCATOR_FRAMING_EX>(descriptor->AllocatorFraming)->FramingItem[0].Frames = 3;
    return STATUS_SUCCESS;
}

NTSTATUS PinClose(PKSPIN, PIRP) {
    Record(kPinClose, 0, 0);
    return STATUS_SUCCESS;
}

NTSTATUS PinSetDeviceState(PKSPIN pin, KSSTATE to, KSSTATE from) {
    Record(kSetDeviceState, to, from);
    if (testDriver.failStepStatus != STATUS_SUCCESS && to == testDriver.failStepTo) {
        return testDriver.failStepStatus;
    }
    if (to == KSSTATE_ACQUIRE && from == KSSTATE_STOP) {
        if (!NT_SUCCESS(KsPinGetReferenceClockInterface(pin, &testDriver.clock))) {
            testDriver.clock = nullptr;
        }
    }
    if (to == KSSTATE_STOP && testDriver.clock != nullptr && !testDriver.keepClock) {
        testDriver.clock->Release();
        testDriver.clock = nullptr;
    }
    return STATUS_SUCCESS;
}

void NoteActivePass() {
    LONG active = InterlockedIncrement(&testDriver.activePasses);
    LONG most = testDriver.mostActivePasses;
    while (active > most) {
        LONG seen = InterlockedCompareExchange(&testDriver.mostActivePasses, active, most);
        if (seen == most) break;
        most = seen;
    }
}

// Writes the pass number into the frame, stamps it with the clock and hands it back.
void FillAndEject(PKSSTREAM_POINTER pointer, LONG pass) {
    PKSSTREAM_HEADER header = pointer->StreamHeader;
    if (header->FrameExtent >= sizeof(LONG)) {
        memcpy(header->Data, &pass, sizeof(LONG));
        header->DataUsed = sizeof(LONG);
    }
    if (testDriver.clock != nullptr) {
        LONGLONG systemTime = 0;
        header->PresentationTime.Time = testDriver.clock->GetCorrelatedTime(&systemTime);
        header->OptionsFlags = KSSTREAM_HEADER_OPTIONSF_TIMEVALID;
    }
    KsStreamPointerUnlock(pointer, TRUE);
}

NTSTATUS PinProcess(PKSPIN pin) {
    NoteActivePass();
    LONG pass = InterlockedIncrement(&testDriver.passes);
    if (pin->DeviceState != KSSTATE_RUN) InterlockedIncrement(&testDriver.passesOutsideRun);
    if (testDriver.passGate != nullptr) {
        KeWaitForSingleObject(testDriver.passGate, Executive, KernelMode, FALSE, nullptr);
    }
    if (testDriver.passDelayUs > 0) {
        LARGE_INTEGER delay;
        delay.QuadPart = -10LL * testDriver.passDelayUs;
        KeDelayExecutionThread(KernelMode, FALSE, &delay);
    }
    if (testDriver.ejectFrames || testDriver.leaveFrameLocked) {
        PKSSTREAM_POINTER pointer =
            KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
        if (pointer != nullptr && !testDriver.leaveFrameLocked) FillAndEject(pointer, pass);
    }
    InterlockedDecrement(&testDriver.activePasses);
    return STATUS_PENDING;
}

// ---------------------------------------------------------------- descriptors

KSDATARANGE testRange = {{
    sizeof(KSDATARANGE),               // FormatSize
    0,                                 // Flags
    4096,                              // SampleSize
    0,                                 // Reserved
    KSDATAFORMAT_TYPE_VIDEO,           // MajorFormat
    kTestSubFormat,                    // SubFormat
    KSDATAFORMAT_SPECIFIER_VIDEOINFO,  // Specifier
}};

const PKSDATARANGE dataRanges[] = {&testRange};

const KSALLOCATOR_FRAMING_EX framing = {
    1,          // CountItems
    0,          // PinFlags
    {1, 1, 0},  // OutputCompression
    0,          // PinWeight
    {{
        KSMEMORY_TYPE_KERNEL_NONPAGED,  // MemoryType
        KS_TYPE_DONT_CARE,              // BusType
        0,                              // MemoryFlags
        0,                              // BusFlags
        KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY |
            KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY,  // Flags
        2,                                              // Frames
        {FILE_BYTE_ALIGNMENT},                          // FileAlignment
        0,                                              // MemoryTypeWeight
        {0, 0xFFFFFFFF, 1},                             // PhysicalRange
        {{4096, 4096, 1}, 0, 0},                        // FramingRange
    }},
};

const KSPIN_DISPATCH pinDispatch = {
    PinCreate,          // Create
    PinClose,           // Close
    PinProcess,         // Process
    nullptr,            // Reset
    PinSetDataFormat,   // SetDataFormat
    PinSetDeviceState,  // SetDeviceState
    nullptr,            // Connect
    nullptr,            // Disconnect
    nullptr,            // Clock
    nullptr,            // Allocator
};

const KSPIN_DESCRIPTOR_EX pinDescriptors[] = {{
    &pinDispatch,  // Dispatch
    nullptr,       // AutomationTable
    {
        0,
        nullptr,
        0,
        nullptr,  // Interfaces, Mediums
        1,
        dataRanges,                // DataRanges
        KSPIN_DATAFLOW_OUT,        // DataFlow
        KSPIN_COMMUNICATION_BOTH,  // Communication
        &PIN_CATEGORY_CAPTURE,     // Category
        &PIN_CATEGORY_CAPTURE,     // Name
        {0},                       // ConstrainedDataRanges
    },
    KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING | KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING |
        KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY,  // Flags
    1,                                         // InstancesPossible
    1,                                         // InstancesNecessary
    &framing,                                  // AllocatorFraming
    nullptr,                                   // IntersectHandler
}};

const KSFILTER_DISPATCH filterDispatch = {
    FilterCreate,  // Create
    FilterClose,   // Close
    nullptr,       // Process
    nullptr,       // Reset
};

const GUID categories[] = {KSCATEGORY_VIDEO, KSCATEGORY_CAPTURE};

const KSFILTER_DESCRIPTOR filterDescriptor = {
    &filterDispatch,              // Dispatch
    &filterAutomation,            // AutomationTable
    KSFILTER_DESCRIPTOR_VERSION,  // Version
    0,                            // Flags
    &KSNAME_Filter,               // ReferenceGuid
    1,                            // PinDescriptorsCount
    sizeof(KSPIN_DESCRIPTOR_EX),  // PinDescriptorSize
    pinDescriptors,               // PinDescriptors
    2,                            // CategoriesCount
    categories,                   // Categories
    0,                            // NodeDescriptorsCount
    sizeof(KSNODE_DESCRIPTOR),    // NodeDescriptorSize
    nullptr,                      // NodeDescriptors
    0,                            // ConnectionsCount
    nullptr,                      // Connections
    nullptr,                      // ComponentId
};

const KSDEVICE_DISPATCH deviceDispatch = {
    DeviceAdd,    // Add
    DeviceStart,  // Start
    nullptr,      // PostStart
    nullptr,      // QueryStop
    nullptr,      // CancelStop
    DeviceStop,   // Stop
    nullptr,      // QueryRemove
    nullptr,      // CancelRemove
    nullptr,      // Remove
    nullptr,      // QueryCapabilities
    nullptr,      // SurpriseRemoval
    nullptr,      // QueryPower
    nullptr,      // SetPower
    nullptr,      // QueryInterface
};

const KSDEVICE_DESCRIPTOR deviceDescriptor = {
    &deviceDispatch,              // Dispatch
    0,                            // FilterDescriptorsCount
    nullptr,                      // FilterDescriptors
    KSDEVICE_DESCRIPTOR_VERSION,  // Version
    0,                            // Flags
};

}  // namespace

void ResetTestDriver() { testDriver = TestDriver{}; }

NTSTATUS TestDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    return KsInitializeDriver(driver, registryPath, &deviceDescriptor);
}

const KSPIN_DESCRIPTOR_EX* TestPinDescriptor() { return &pinDescriptors[0]; }

ULONG CountEvents(EventKind kind) {
    ULONG count = 0;
    for (ULONG i = 0; i < testDriver.eventCount; ++i) {
        if (testDriver.events[i].kind == kind) ++count;
    }
    return count;
}

}  // namespace testminidriver
