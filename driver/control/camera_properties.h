// The handlers of the camera property set and the set itself; its GUID, ids and value layouts
// are in the public header. Handlers run in the caller's thread at passive level.
#pragma once

#include "driver/public/bayercam.h"

// Item handlers. Each returns STATUS_SUCCESS or STATUS_UNSUCCESSFUL only.
NTSTATUS HandleConstantProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);
NTSTATUS HandleAdjustmentProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);
NTSTATUS HandleRoiProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);
NTSTATUS HandleRegisterProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);
NTSTATUS HandlePacketProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);
NTSTATUS HandleCameraProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);

// The set for the filter's automation table.
extern const KSPROPERTY_SET CameraPropertySet;
