// What the property handlers share: finding the camera device of a request and the constant
// answers. Passive level.
#pragma once

#include "driver/control/camera_properties.h"
#include "driver/device/camera_device.h"

// The camera device behind the request's filter, or null when the request, the filter, its
// device or the device's context is missing.
CameraDevice* FindPropertyDevice(PIRP irp);

// True for a set; every other verb that reaches a handler is served as a get.
inline bool IsSetRequest(const KSIDENTIFIER* request) {
    return request->Flags == KSPROPERTY_TYPE_SET;
}

// The answer of a property whose value is a constant; false for the others.
bool FindPropertyConstant(ULONG id, LONG* value);
