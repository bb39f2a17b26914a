#include "driver/driver_entry.h"

#include "driver/filter.h"
#include "driver/stack_cookie.h"

extern "C" NO_STACK_PROTECTOR NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject,
                                                   PUNICODE_STRING registryPath) {
    InitializeStackCookie();
    return KsInitializeDriver(driverObject, registryPath, &CameraDeviceDescriptor);
}
