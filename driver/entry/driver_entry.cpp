#include "driver/entry/driver_entry.h"

#include "driver/entry/filter.h"
#include "driver/entry/stack_cookie.h"

extern "C" NO_STACK_PROTECTOR NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject,
                                                   PUNICODE_STRING registryPath) {
    InitializeStackCookie();
    return KsInitializeDriver(driverObject, registryPath, &CameraDeviceDescriptor);
}
