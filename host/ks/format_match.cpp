#include "host/ks/format_match.h"

namespace bayercam::host::ks {
namespace {

bool guidsMatch(const GUID& a, const GUID& b) {
    return IsEqualGUID(a, b) || IsEqualGUID(a, GUID_NULL) || IsEqualGUID(b, GUID_NULL);
}

}  // namespace

bool formatsMatch(const KSDATARANGE& a, const KSDATARANGE& b) noexcept {
    return guidsMatch(a.MajorFormat, b.MajorFormat) && guidsMatch(a.SubFormat, b.SubFormat) &&
           guidsMatch(a.Specifier, b.Specifier);
}

const KSDATARANGE* findRangeForFormat(const KSPIN_DESCRIPTOR_EX& pin,
                                      const KSDATAFORMAT& format) noexcept {
    const KSPIN_DESCRIPTOR& d = pin.PinDescriptor;
    for (ULONG i = 0; i < d.DataRangesCount; ++i) {
        if (d.DataRanges[i] != nullptr && formatsMatch(*d.DataRanges[i], format)) {
            return d.DataRanges[i];
        }
    }
    return nullptr;
}

}  // namespace bayercam::host::ks
