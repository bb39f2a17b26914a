// Routing of a property request through an automation table: set by GUID, item by id, verb to
// handler, with the class driver's refusals before any handler runs: STATUS_PROPSET_NOT_FOUND
// for an unknown set, STATUS_NOT_FOUND for an unknown id, STATUS_INVALID_DEVICE_REQUEST for a
// verb the item does not offer, STATUS_INVALID_BUFFER_SIZE for a request below the item's
// minimum, STATUS_BUFFER_TOO_SMALL (or STATUS_BUFFER_OVERFLOW and the size, for a zero-length
// buffer) for data below it.
#pragma once

#include "platform/ks.h"

namespace bayercam::host::ks {

// fileObject is the filter or pin the request is addressed to (KsGetFilterFromIrp finds it).
// Handlers get private copies of the request and data; the data goes back to the caller when
// the handler succeeds. returned gets the handler's byte count or, for a zero-length data
// buffer below the minimum, the size needed (with STATUS_BUFFER_OVERFLOW).
NTSTATUS dispatchProperty(const KSAUTOMATION_TABLE* table, PVOID fileObject, const void* request,
                          ULONG requestLength, void* data, ULONG dataLength,
                          ULONG* returned) noexcept;

}  // namespace bayercam::host::ks
