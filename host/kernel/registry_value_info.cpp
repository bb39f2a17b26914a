#include "host/kernel/registry_value_info.h"

#include <algorithm>
#include <cstring>

#include "host/kernel/verifier.h"

namespace bayercam::host {

NTSTATUS fillValueInformation(const StoredValue& value, KEY_VALUE_INFORMATION_CLASS infoClass,
                              PVOID buffer, ULONG length, PULONG resultLength) {
    if (infoClass != KeyValuePartialInformation) {
        verifier::report("ZwQueryValueKey: information class " + std::to_string(infoClass) +
                         " is not implemented by the registry stand-in");
        return STATUS_INVALID_PARAMETER;
    }
    constexpr std::size_t fixedSize = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
    const KEY_VALUE_PARTIAL_INFORMATION header{
        0, value.type, static_cast<ULONG>(value.data.size()), {}};
    *resultLength = static_cast<ULONG>(fixedSize + value.data.size());
    if (length < fixedSize || buffer == nullptr) return STATUS_BUFFER_TOO_SMALL;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::memcpy(out, &header, fixedSize);
    const std::size_t copied = std::min<std::size_t>(length - fixedSize, value.data.size());
    if (copied != 0) std::memcpy(out + fixedSize, value.data.data(), copied);
    return length < *resultLength ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

}  // namespace bayercam::host
