// Routing of a property request through an automation table: set by GUID, item by id, verb to
// handler, with the class driver's refusals (unknown set or item, a verb the item does not
// offer, buffers below the item's minimum sizes) before any handler runs.
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
