// Matching of data formats and ranges by major format, subtype and specifier, where a null
// GUID on either side is a wildcard.
#pragma once

#include "platform/ks.h"

namespace bayercam::host::ks {

bool formatsMatch(const KSDATARANGE& a, const KSDATARANGE& b) noexcept;
// The first data range of the pin descriptor that the format matches, or null.
const KSDATARANGE* findRangeForFormat(const KSPIN_DESCRIPTOR_EX& pin,
                                      const KSDATAFORMAT& format) noexcept;

}  // namespace bayercam::host::ks
