// The driver's load entry.
#pragma once

#include "platform/kernel.h"

// Registers the device descriptor with the class driver; its status is the load status.
extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
