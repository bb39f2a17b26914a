#include "tests/host/ks/test_minidriver.h"

namespace testminidriver {

TestDriver testDriver;

namespace {

KSFILTER_DESCRIPTOR filterDescriptor;

NTSTATUS DeviceStart(PKSDEVICE device, PIRP, PCM_RESOURCE_LIST, PCM_RESOURCE_LIST) {
    if (device->Started) return STATUS_SUCCESS;
    KsAcquireDevice(device);
    NTSTATUS status = KsCreateFilterFactory(device->FunctionalDeviceObject, &filterDescriptor,
                                            const_cast<PWSTR>(L"GLOBAL"), nullptr,
                                            KSCREATE_ITEM_FREEONSTOP, nullptr, nullptr, nullptr);
    KsReleaseDevice(device);
    return status;
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

NTSTATUS PinProcess(PKSPIN pin) {
    NoteActivePass();
    InterlockedIncrement(&testDriver.passes);
    if (pin->DeviceState != KSSTATE_RUN) InterlockedIncrement(&testDriver.passesOutsideRun);
    if (testDriver.passGate != nullptr) {
        KeWaitForSingleObject(testDriver.passGate, Executive, KernelMode, FALSE, nullptr);
    }
    if (testDriver.passDelayUs > 0) {
        LARGE_INTEGER delay;
        delay.QuadPart = -10LL * testDriver.passDelayUs;
        KeDelayExecutionThread(KernelMode, FALSE, &delay);
    }
    if (testDriver.leaveFrameLocked) {
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    }
    InterlockedDecrement(&testDriver.activePasses);
    return STATUS_PENDING;
}

// Zero-initialised, filled once by TestDriverEntry: only the fields the class driver reads.
KSDATARANGE testRange;
PKSDATARANGE dataRanges[] = {&testRange};
KSPIN_DISPATCH pinDispatch;
KSPIN_DESCRIPTOR_EX pinDescriptor;
KSDEVICE_DISPATCH deviceDispatch;
KSDEVICE_DESCRIPTOR deviceDescriptor;

void FillDescriptors() {
    testRange.FormatSize = sizeof(KSDATARANGE);
    testRange.SampleSize = 4096;
    testRange.MajorFormat = KSDATAFORMAT_TYPE_VIDEO;
    testRange.SubFormat = kTestSubFormat;
    testRange.Specifier = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
    pinDispatch.Process = PinProcess;
    pinDescriptor.Dispatch = &pinDispatch;
    pinDescriptor.PinDescriptor.DataRangesCount = 1;
    pinDescriptor.PinDescriptor.DataRanges = dataRanges;
    pinDescriptor.PinDescriptor.DataFlow = KSPIN_DATAFLOW_OUT;
    pinDescriptor.PinDescriptor.Communication = KSPIN_COMMUNICATION_BOTH;
    pinDescriptor.Flags = KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING |
                          KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING |
                          KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY;
    pinDescriptor.InstancesPossible = 1;
    filterDescriptor.Version = KSFILTER_DESCRIPTOR_VERSION;
    filterDescriptor.ReferenceGuid = &KSNAME_Filter;
    filterDescriptor.PinDescriptorsCount = 1;
    filterDescriptor.PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX);
    filterDescriptor.PinDescriptors = &pinDescriptor;
    deviceDispatch.Start = DeviceStart;
    deviceDescriptor.Dispatch = &deviceDispatch;
    deviceDescriptor.Version = KSDEVICE_DESCRIPTOR_VERSION;
}

}  // namespace

NTSTATUS TestDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    FillDescriptors();
    return KsInitializeDriver(driver, registryPath, &deviceDescriptor);
}

}  // namespace testminidriver
