#include "driver/driver_entry.h"

#include "driver/filter.h"

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    return KsInitializeDriver(driverObject, registryPath, &CameraDeviceDescriptor);
}
