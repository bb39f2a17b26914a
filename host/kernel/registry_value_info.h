// The answer of ZwQueryValueKey: a value laid out as KEY_VALUE_PARTIAL_INFORMATION (the only
// class the driver asks for), written into the caller's buffer by the platform's rules.
#pragma once

#include "host/kernel/registry_store.h"
#include "platform/kernel.h"

namespace bayercam::host {

// Sets *resultLength to the size the whole answer needs. A buffer too small for the fixed
// header gets nothing (STATUS_BUFFER_TOO_SMALL); one too small for the rest gets the header and
// as much as fits (STATUS_BUFFER_OVERFLOW). Other classes are a verifier report.
NTSTATUS fillValueInformation(const StoredValue& value, KEY_VALUE_INFORMATION_CLASS infoClass,
                              PVOID buffer, ULONG length, PULONG resultLength);

}  // namespace bayercam::host
