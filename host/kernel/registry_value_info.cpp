#include "host/kernel/registry_value_info.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host/kernel/registry_names.h"

namespace bayercam::host {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <class Header>
Bytes image(const Header& header, std::size_t fixedSize) {
    Bytes bytes(fixedSize);
    std::memcpy(bytes.data(), &header, fixedSize);
    return bytes;
}

void append(Bytes& bytes, const void* data, std::size_t size) {
    const auto* start = static_cast<const std::uint8_t*>(data);
    bytes.insert(bytes.end(), start, start + size);
}

ULONG byteLength(const std::wstring& text) {
    return static_cast<ULONG>(text.size() * sizeof(WCHAR));
}

Bytes basicInformation(const StoredValue& value, std::size_t& fixedSize) {
    const std::wstring name = wideFromUtf8(value.name);
    fixedSize = offsetof(KEY_VALUE_BASIC_INFORMATION, Name);
    KEY_VALUE_BASIC_INFORMATION header{0, value.type, byteLength(name), {}};
    Bytes bytes = image(header, fixedSize);
    append(bytes, name.data(), byteLength(name));
    return bytes;
}

Bytes fullInformation(const StoredValue& value, std::size_t& fixedSize) {
    const std::wstring name = wideFromUtf8(value.name);
    fixedSize = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
    // The data follows the name at the next ULONG boundary.
    const auto dataOffset = static_cast<ULONG>((fixedSize + byteLength(name) + sizeof(ULONG) - 1) &
                                               ~(sizeof(ULONG) - 1));
    KEY_VALUE_FULL_INFORMATION header{
        0, value.type, dataOffset, static_cast<ULONG>(value.data.size()), byteLength(name), {}};
    Bytes bytes = image(header, fixedSize);
    append(bytes, name.data(), byteLength(name));
    bytes.resize(dataOffset);
    append(bytes, value.data.data(), value.data.size());
    return bytes;
}

Bytes partialInformation(const StoredValue& value, std::size_t& fixedSize) {
    fixedSize = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
    KEY_VALUE_PARTIAL_INFORMATION header{0, value.type, static_cast<ULONG>(value.data.size()), {}};
    Bytes bytes = image(header, fixedSize);
    append(bytes, value.data.data(), value.data.size());
    return bytes;
}

}  // namespace

NTSTATUS fillValueInformation(const StoredValue& value, KEY_VALUE_INFORMATION_CLASS infoClass,
                              PVOID buffer, ULONG length, PULONG resultLength) {
    std::size_t fixedSize = 0;
    Bytes answer;
    switch (infoClass) {
        case KeyValueBasicInformation:
            answer = basicInformation(value, fixedSize);
            break;
        case KeyValueFullInformation:
            answer = fullInformation(value, fixedSize);
            break;
        case KeyValuePartialInformation:
            answer = partialInformation(value, fixedSize);
            break;
        default:
            return STATUS_INVALID_PARAMETER;
    }
    *resultLength = static_cast<ULONG>(answer.size());
    if (length < fixedSize || buffer == nullptr) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(buffer, answer.data(), std::min<std::size_t>(length, answer.size()));
    return length < answer.size() ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

}  // namespace bayercam::host
