// IofCallDriver: passes a request to a device's dispatch routine on the next stack location.
#include <string>

#include "host/kernel/device_object.h"
#include "host/kernel/irp.h"
#include "host/kernel/verifier.h"

using namespace bayercam::host;

extern "C" NTSTATUS IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    if (!irps::checkIrp(Irp, "IofCallDriver")) return STATUS_INVALID_PARAMETER;
    irps::IrpTrailer& trailer = irps::trailerOf(Irp);
    if (trailer.phase.load() == irps::Phase::Completing) {
        verifier::report("IofCallDriver with a request that is being completed");
    }
    if (Irp->CurrentLocation <= 1) {
        verifier::report("IofCallDriver with no stack location left for the device");
        return STATUS_INVALID_PARAMETER;
    }
    Irp->CurrentLocation--;
    Irp->Tail.Overlay.CurrentStackLocation--;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    stack->DeviceObject = DeviceObject;
    trailer.phase.store(irps::Phase::Dispatched);

    const UCHAR major = stack->MajorFunction;
    PDRIVER_DISPATCH dispatch = nullptr;
    if (!devices::isDeviceObject(DeviceObject)) {
        verifier::report("IofCallDriver to an object that is not a live device object");
    } else if (major > IRP_MJ_MAXIMUM_FUNCTION) {
        verifier::report("IofCallDriver with major function " + std::to_string(major));
    } else if (DeviceObject->DriverObject) {
        dispatch = DeviceObject->DriverObject->MajorFunction[major];
    }
    if (!dispatch) {
        verifier::report("IofCallDriver: the device has no dispatch routine for major function " +
                         std::to_string(major));
        // As the platform's default dispatch does: refuse the request and complete it.
        Irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        Irp->IoStatus.Information = 0;
        IofCompleteRequest(Irp, IO_NO_INCREMENT);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    return dispatch(DeviceObject, Irp);
}
