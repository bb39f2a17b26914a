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

KSFILTER_DESCRIPTOR filterDescriptor;

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

// ---------------------------------------------------------------- filter

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

// Zero-initialised, filled once by TestDriverEntry: only the fields the class driver reads.
KSDATARANGE testRange;
PKSDATARANGE dataRanges[] = {&testRange};
KSALLOCATOR_FRAMING_EX framing;
KSPIN_DISPATCH pinDispatch;
KSPIN_DESCRIPTOR_EX pinDescriptor;
KSFILTER_DISPATCH filterDispatch;
KSDEVICE_DISPATCH deviceDispatch;
KSDEVICE_DESCRIPTOR deviceDescriptor;

void FillDescriptors() {
    testRange.FormatSize = sizeof(KSDATARANGE);
    testRange.SampleSize = 4096;
    testRange.MajorFormat = KSDATAFORMAT_TYPE_VIDEO;
    testRange.SubFormat = kTestSubFormat;
    testRange.Specifier = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
    framing.CountItems = 1;
    framing.FramingItem[0].Frames = 2;
    pinDispatch.Create = PinCreate;
    pinDispatch.Close = PinClose;
    pinDispatch.Process = PinProcess;
    pinDispatch.SetDataFormat = PinSetDataFormat;
    pinDispatch.SetDeviceState = PinSetDeviceState;
    pinDescriptor.Dispatch = &pinDispatch;
    pinDescriptor.PinDescriptor.DataRangesCount = 1;
    pinDescriptor.PinDescriptor.DataRanges = dataRanges;
    pinDescriptor.PinDescriptor.DataFlow = KSPIN_DATAFLOW_OUT;
    pinDescriptor.PinDescriptor.Communication = KSPIN_COMMUNICATION_BOTH;
    pinDescriptor.Flags = KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING |
                          KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING |
                          KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY;
    pinDescriptor.InstancesPossible = 1;
    pinDescriptor.InstancesNecessary = 1;
    pinDescriptor.AllocatorFraming = &framing;
    filterDispatch.Create = FilterCreate;
    filterDispatch.Close = FilterClose;
    filterDescriptor.Dispatch = &filterDispatch;
    filterDescriptor.Version = KSFILTER_DESCRIPTOR_VERSION;
    filterDescriptor.ReferenceGuid = &KSNAME_Filter;
    filterDescriptor.PinDescriptorsCount = 1;
    filterDescriptor.PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX);
    filterDescriptor.PinDescriptors = &pinDescriptor;
    deviceDispatch.Add = DeviceAdd;
    deviceDispatch.Start = DeviceStart;
    deviceDispatch.Stop = DeviceStop;
    deviceDescriptor.Dispatch = &deviceDispatch;
    deviceDescriptor.Version = KSDEVICE_DESCRIPTOR_VERSION;
}

}  // namespace

void ResetTestDriver() { testDriver = TestDriver{}; }

NTSTATUS TestDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    FillDescriptors();
    return KsInitializeDriver(driver, registryPath, &deviceDescriptor);
}

ULONG CountEvents(EventKind kind) {
    ULONG count = 0;
    for (ULONG i = 0; i < testDriver.eventCount; ++i) {
        if (testDriver.events[i].kind == kind) ++count;
    }
    return count;
}

}  // namespace testminidriver
