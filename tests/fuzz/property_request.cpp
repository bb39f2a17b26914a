#include "tests/fuzz/property_request.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "driver/control/camera_properties.h"

namespace bayercam::fuzz {
namespace {

constexpr ULONG kHugeLength = 1u << 20;

// The minimum request and data size of an item, as the property table gives it.
ULONG minimumOf(ULONG id) {
    switch (static_cast<CameraProperty>(id)) {
        case CameraProperty::Roi:
            return sizeof(CameraRoiValue);
        case CameraProperty::RawPacket:
        case CameraProperty::CameraByte:
            return sizeof(CameraPacketValue);
        default:
            return sizeof(CameraPropertyValue);
    }
}

ULONG chooseLength(FuzzInput& in, ULONG minimum) {
    const ULONG lengths[] = {
        minimum,    minimum - 1, minimum + 1, 0, 1, sizeof(KSPROPERTY), sizeof(KSPROPERTY) - 1,
        kHugeLength};
    const std::uint8_t choice = in.u8() % (std::size(lengths) + 1);
    return choice < std::size(lengths) ? lengths[choice] : in.u16();
}

GUID chooseSet(FuzzInput& in) {
    GUID set = CameraPropertySetId;
    auto* bytes = reinterpret_cast<std::uint8_t*>(&set);
    switch (in.u8() % 4) {
        case 1: {  // one byte off
            const std::uint8_t at = in.u8() % sizeof(GUID);
            bytes[at] ^= in.u8() | 1;
            break;
        }
        case 2: {  // anything
            std::array<std::uint8_t, sizeof(GUID)> any{};
            const auto given = in.take(sizeof(GUID));
            std::copy(given.begin(), given.end(), any.begin());
            std::memcpy(&set, any.data(), sizeof(GUID));
            break;
        }
        default:
            break;
    }
    return set;
}

// A buffer of `length` bytes: the header's bytes first (when given), then `contents`, then zeros.
std::vector<std::uint8_t> fill(ULONG length, const KSPROPERTY* header,
                               std::span<const std::uint8_t> contents) {
    std::vector<std::uint8_t> buffer(length, 0);
    std::size_t at = 0;
    if (header != nullptr) {
        at = std::min<std::size_t>(length, sizeof(KSPROPERTY));
        std::copy_n(reinterpret_cast<const std::uint8_t*>(header), at, buffer.begin());
    }
    const std::size_t n = std::min(contents.size(), buffer.size() - at);
    std::copy_n(contents.begin(), n, buffer.begin() + static_cast<std::ptrdiff_t>(at));
    return buffer;
}

}  // namespace

NTSTATUS SendPropertyRequest(host::ks::KsClient& client, host::ks::KsFilterHandle filter,
                             FuzzInput& in) {
    KSPROPERTY header{};
    header.Set = chooseSet(in);
    header.Id = in.u32();
    header.Flags = in.u32();
    const ULONG minimum = minimumOf(header.Id);
    const ULONG requestLength = chooseLength(in, minimum);
    const ULONG dataLength = chooseLength(in, minimum);
    std::vector<std::uint8_t> request = fill(requestLength, &header, in.block());
    std::vector<std::uint8_t> data = fill(dataLength, nullptr, in.block());
    ULONG returned = 0;
    return client.property(filter, requestLength != 0 ? request.data() : nullptr, requestLength,
                           dataLength != 0 ? data.data() : nullptr, dataLength, &returned);
}

std::vector<std::uint8_t> PropertyRequestBytes(ULONG id, ULONG verb,
                                               std::span<const std::uint8_t> value,
                                               std::uint8_t requestLength,
                                               std::uint8_t dataLength) {
    std::vector<std::uint8_t> bytes{0};  // the camera's own set
    auto add = [&bytes](std::uint64_t field, int size) {
        for (int i = 0; i < size; ++i) bytes.push_back(std::uint8_t(field >> (8 * i)));
    };
    add(id, 4);
    add(verb, 4);
    add(requestLength, 1);
    add(dataLength, 1);
    add(value.size(), 2);
    bytes.insert(bytes.end(), value.begin(), value.end());
    add(sizeof(KSPROPERTY) + value.size(), 2);
    bytes.resize(bytes.size() + sizeof(KSPROPERTY), 0);
    bytes.insert(bytes.end(), value.begin(), value.end());
    return bytes;
}

}  // namespace bayercam::fuzz
