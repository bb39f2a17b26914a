// IoBuildDeviceIoControlRequest and the completion of the requests it builds.
#include "host/kernel/irp.h"
#include "host/kernel/irql.h"
#include "host/kernel/verifier.h"

using namespace bayercam::host;

namespace bayercam::host::irps {

void finishThreadedRequest(PIRP irp) noexcept {
    const IO_STATUS_BLOCK status = irp->IoStatus;
    PIO_STATUS_BLOCK statusBlock = irp->UserIosb;
    PKEVENT event = irp->UserEvent;
    for (PMDL mdl = irp->MdlAddress; mdl;) {
        PMDL next = mdl->Next;
        IoFreeMdl(mdl);
        mdl = next;
    }
    // Freed before the event is signalled, so a waiter that wakes finds the request gone.
    trailerOf(irp).phase.store(Phase::Owned);
    release(irp);
    if (statusBlock) *statusBlock = status;
    if (event) KeSetEvent(event, IO_NO_INCREMENT, FALSE);
}

}  // namespace bayercam::host::irps

extern "C" PIRP IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject,
                                              PVOID InputBuffer, ULONG InputBufferLength,
                                              PVOID OutputBuffer, ULONG OutputBufferLength,
                                              BOOLEAN InternalDeviceIoControl, PKEVENT Event,
                                              PIO_STATUS_BLOCK IoStatusBlock) {
    irql::checkPassive("IoBuildDeviceIoControlRequest");
    if ((IoControlCode & 3) != METHOD_NEITHER) {
        verifier::report(
            "IoBuildDeviceIoControlRequest: only METHOD_NEITHER control codes are "
            "implemented by the stand-in");
        return nullptr;
    }
    PIRP irp = IoAllocateIrp(DeviceObject->StackSize, FALSE);
    if (!irp) return nullptr;
    irps::trailerOf(irp).threaded = true;
    irp->RequestorMode = KernelMode;
    irp->UserIosb = IoStatusBlock;
    irp->UserEvent = Event;
    irp->UserBuffer = OutputBuffer;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction =
        InternalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IoControlCode;
    next->Parameters.DeviceIoControl.InputBufferLength = InputBufferLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = OutputBufferLength;
    next->Parameters.DeviceIoControl.Type3InputBuffer = InputBuffer;
    return irp;
}
