#include "tests/chaos/property_fuzz.h"

#include <cstdio>
#include <vector>

#include "driver/control/camera_properties.h"
#include "tests/fuzz/property_request.h"

namespace bayercam::chaos {
namespace {

// Mostly the camera's own ids, so that requests reach the handlers.
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
std::uint8_t drawLength(ChaosRng& rng) {
    return rng.chance(70) ? fuzz::kMinimumLength : static_cast<std::uint8_t>(rng.below(8));
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
    const ULONG id = drawId(rng);
    const ULONG verb = drawVerb(rng);
    std::vector<std::uint8_t> values;
    for (int i = 0; i < 8; ++i) {
        const auto value = static_cast<std::uint32_t>(drawValue(rng));
        for (int b = 0; b < 4; ++b) values.push_back(static_cast<std::uint8_t>(value >> (8 * b)));
    }
    // External trigger mode stops the frames until the camera is triggered: mostly it is
    // switched off again, so that it does not hold the stream for the rest of the run.
    if (id == static_cast<ULONG>(CameraProperty::ExTrigger) && rng.chance(80)) values[0] = 0;
    const std::uint8_t requestLength = drawLength(rng);
    const std::uint8_t dataLength = drawLength(rng);
    const std::vector<std::uint8_t> request =
        fuzz::PropertyRequestBytes(id, verb, values, requestLength, dataLength);
    char text[96];
    std::snprintf(text, sizeof(text), "id %u verb 0x%X lengths %u/%u value %02X%02X%02X%02X", id,
                  verb, requestLength, dataLength, values[3], values[2], values[1], values[0]);
    context.note(text);
    fuzz::FuzzInput in(request.data(), request.size());
    return fuzz::SendPropertyRequest(context.client, filter, in);
}

}  // namespace bayercam::chaos
