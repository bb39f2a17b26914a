// Property requests a careless or hostile client might send into the camera's property set: the
// set GUID (its own, one byte off, or anything), any id and verb, request and data buffer sizes
// around the item's minimum or far from it, and any contents. The fuzz target decodes them from
// its input; the chaos runner lays out the same fields from its seed and sends them alike.
#pragma once

#include <span>
#include <vector>

#include "host/ks/ks_client.h"
#include "tests/fuzz/fuzz_input.h"

namespace bayercam::fuzz {

// A length choice of 0 to 7 selects the minimum, one less, one more, 0, 1, the bare header, one
// less than that, or a megabyte; 8 reads a 16-bit length from the input.
constexpr std::uint8_t kMinimumLength = 0;

// Decodes one request from the input and sends it on the filter; returns its status.
NTSTATUS SendPropertyRequest(host::ks::KsClient& client, host::ks::KsFilterHandle filter,
                             FuzzInput& in);

// The input SendPropertyRequest decodes into one request: the camera's own set, the lengths by
// choice, `value` after the KSPROPERTY header in the request and at the same offset in the data
// buffer, where the handlers read it.
std::vector<std::uint8_t> PropertyRequestBytes(ULONG id, ULONG verb,
                                               std::span<const std::uint8_t> value,
                                               std::uint8_t requestLength, std::uint8_t dataLength);

}  // namespace bayercam::fuzz
