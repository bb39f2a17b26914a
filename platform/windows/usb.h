// Windows build: the platform's USB headers (descriptors and URBs, the USBD library, the bus
// driver's internal device controls) in place of the host declarations. This toolchain's USB
// library header declares its functions without C linkage of its own.
#pragma once

#include "platform/windows/kernel.h"

extern "C" {
#include <usb.h>
#include <usbdlib.h>
}
#include <usbioctl.h>

// The status test for a halted endpoint, which this toolchain's USB header lacks.
#ifndef USBD_HALTED
#define USBD_HALTED(Status) ((ULONG)(Status) >> 30 == 3)
#endif
