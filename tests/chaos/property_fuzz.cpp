#include "tests/chaos/property_fuzz.h"

#include <cstring>
#include <vector>

#include "driver/control/camera_properties.h"

namespace bayercam::chaos {
namespace {

ULONG minimumSize(ULONG id) {
    if (id == static_cast<ULONG>(CameraProperty::Roi)) return sizeof(CameraRoiValue);
    if (id == static_cast<ULONG>(CameraProperty::RawPacket) ||
        id == static_cast<ULONG>(CameraProperty::CameraByte)) {
        return sizeof(CameraPacketValue);
    }
    return sizeof(CameraPropertyValue);
}

ULONG drawId(ChaosRng& rng) {
    const auto shape = rng.below(10);
    if (shape < 8) return static_cast<ULONG>(rng.below(CAMERA_PROPERTY_COUNT));
    if (shape == 8) return static_cast<ULONG>(rng.between(CAMERA_PROPERTY_COUNT, 100));
    return static_cast<ULONG>(rng.next());
}

ULONG drawVerb(ChaosRng& rng) {
    return rng.pick<ULONG>({KSPROPERTY_TYPE_GET, KSPROPERTY_TYPE_GET, KSPROPERTY_TYPE_SET,
                            KSPROPERTY_TYPE_SET, KSPROPERTY_TYPE_SET, KSPROPERTY_TYPE_BASICSUPPORT,
                            0, KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET,
                            static_cast<ULONG>(rng.next())});
}

// Mostly the minimum, else a length around it or far from it.
ULONG drawLength(ChaosRng& rng, ULONG minimum) {
    if (rng.chance(70)) return minimum;
    return rng.pick<ULONG>({0, 1, sizeof(KSPROPERTY) - 1, sizeof(KSPROPERTY), minimum - 1,
                            minimum + 1, 2 * minimum, 4096, static_cast<ULONG>(rng.below(512))});
}

LONG drawValue(ChaosRng& rng) {
    const auto shape = rng.below(4);
    if (shape == 0) {
        return rng.pick<LONG>(
            {0, 1, -1, 2, 8, 255, 256, 501, 9999, 10000, 0x7FFFFFFF, -0x7FFFFFFF - 1});
    }
    if (shape == 1) return static_cast<LONG>(rng.next());
    return static_cast<LONG>(rng.between(0, 1400));
}

}  // namespace

ActionResult fuzzProperty(host::ks::KsFilterHandle filter, ActionContext& context) {
    if (filter == nullptr) return std::nullopt;
    ChaosRng& rng = context.rng;
    KSPROPERTY header{};
    header.Set = CameraPropertySetId;
    if (rng.chance(5)) std::memset(&header.Set, static_cast<int>(rng.below(256)), sizeof(GUID));
    header.Id = drawId(rng);
    header.Flags = drawVerb(rng);
    const ULONG minimum = minimumSize(header.Id);
    const ULONG requestLength = drawLength(rng, minimum);
    const ULONG dataLength = drawLength(rng, minimum);

    // The value fields follow the header; the rest of the buffers is noise.
    std::vector<std::uint8_t> request(std::max<ULONG>(requestLength, sizeof(CameraPacketValue)));
    for (auto& byte : request) byte = static_cast<std::uint8_t>(rng.next());
    std::memcpy(request.data(), &header, sizeof(header));
    for (std::size_t at = sizeof(header); at + sizeof(LONG) <= 48; at += sizeof(LONG)) {
        const LONG value = drawValue(rng);
        std::memcpy(request.data() + at, &value, sizeof(value));
    }
    // External trigger mode stops the frames until the camera is triggered: mostly it is
    // switched off again, so that it does not hold the stream for the rest of the run.
    if (header.Id == static_cast<ULONG>(CameraProperty::ExTrigger) && rng.chance(80)) {
        std::memset(request.data() + sizeof(header), 0, sizeof(LONG));
    }
    std::vector<std::uint8_t> data(std::max<ULONG>(dataLength, 1));
    std::memcpy(data.data(), request.data(), std::min<std::size_t>(data.size(), request.size()));
    LONG value = 0;
    std::memcpy(&value, request.data() + sizeof(header), sizeof(value));
    char text[96];
    std::snprintf(text, sizeof(text), "id %u verb 0x%X request %u data %u value %d", header.Id,
                  header.Flags, requestLength, dataLength, value);
    context.note(text);
    ULONG returned = 0;
    return context.client.property(filter, request.data(), requestLength,
                                   dataLength == 0 ? nullptr : data.data(), dataLength, &returned);
}

}  // namespace bayercam::chaos
