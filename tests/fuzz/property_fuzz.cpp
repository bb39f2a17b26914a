// Property requests from a client into the camera's property set: the set GUID, id and verb,
// the request and data buffer sizes (0, 1, the item's minimum and one either side, the bare
// KSPROPERTY header and one less, a megabyte, any 16-bit length) and their contents, up to
// sixteen requests an input.
//
// One device and one open filter serve the whole run, as one client would use them: a request
// leaves nothing in the pool, so the per-input check against the baseline is exact, but the
// settings a request changes carry over to the next input (a crash found after a long run may
// need the inputs before it to reproduce).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver/control/camera_properties.h"
#include "tests/fuzz/camera_rig.h"
#include "tests/fuzz/device_checks.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/kernel_baseline.h"

namespace bayercam::fuzz {
namespace {

constexpr std::size_t kRequestsPerInput = 16;
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
    switch (in.u8() % 9) {
        case 0:
            return minimum;
        case 1:
            return minimum - 1;
        case 2:
            return minimum + 1;
        case 3:
            return 0;
        case 4:
            return 1;
        case 5:
            return sizeof(KSPROPERTY);
        case 6:
            return sizeof(KSPROPERTY) - 1;
        case 7:
            return kHugeLength;
        default:
            return in.u16();
    }
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

void sendRequest(host::ks::KsClient& client, host::ks::KsFilterHandle filter, FuzzInput& in) {
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
    client.property(filter, requestLength != 0 ? request.data() : nullptr, requestLength,
                    dataLength != 0 ? data.data() : nullptr, dataLength, &returned);
}

struct Run {
    OpenCamera open;
    KernelBaseline baseline;
};

}  // namespace

// Seeds: a get of every property id, a set of every writable one, a region, a raw packet and a
// camera byte read, with exact sizes.
namespace {

// A request with the set's GUID and exact sizes. The value follows the KSPROPERTY header in the
// request, and sits at the same offset in the data buffer, where the handlers read it.
FuzzSeed& request(FuzzSeed& seed, ULONG id, ULONG verb, std::span<const std::uint8_t> value) {
    std::vector<std::uint8_t> data(sizeof(KSPROPERTY), 0);
    data.insert(data.end(), value.begin(), value.end());
    return seed.u8(0).u32(id).u32(verb).u8(0).u8(0).block(value).block(data);
}

std::vector<std::uint8_t> longs(std::initializer_list<LONG> values) {
    std::vector<std::uint8_t> bytes;
    for (LONG v : values) {
        for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    }
    return bytes;
}

}  // namespace

std::vector<NamedSeed> fuzzSeeds() {
    std::vector<NamedSeed> seeds;
    for (ULONG first = 0; first < CAMERA_PROPERTY_COUNT; first += kRequestsPerInput) {
        FuzzSeed gets;
        for (ULONG id = first; id < first + kRequestsPerInput && id < CAMERA_PROPERTY_COUNT; ++id) {
            request(gets, id, KSPROPERTY_TYPE_GET, {});
        }
        seeds.push_back({"get-" + std::to_string(first), gets.data()});
    }
    // Writable ids with a value in range for each.
    const std::pair<ULONG, LONG> sets[] = {
        {0, 0},    {1, 2000}, {2, 100},  {6, 200}, {10, 1}, {11, 1},  {12, 1}, {13, 1}, {14, 140},
        {15, 128}, {16, 120}, {20, 300}, {24, 12}, {28, 8}, {32, 90}, {48, 1}, {49, 1}, {55, 1},
        {56, 1},   {58, 152}, {63, 1},   {64, 1},  {65, 1}, {66, 1},  {67, 0}};
    FuzzSeed writes;
    std::size_t count = 0;
    for (const auto& [id, value] : sets) {
        request(writes, id, KSPROPERTY_TYPE_SET, longs({value}));
        if (++count % kRequestsPerInput == 0) {
            seeds.push_back({"set-" + std::to_string(count / kRequestsPerInput), writes.data()});
            writes = FuzzSeed();
        }
    }
    seeds.push_back({"set-last", writes.data()});
    FuzzSeed special;
    request(special, 44, KSPROPERTY_TYPE_SET, longs({0, 16, 8, 640, 480, 0}));
    request(special, 57, KSPROPERTY_TYPE_SET, longs({152, 1}));
    request(special, 59, KSPROPERTY_TYPE_SET, longs({0, 4, 0x01020304}));
    request(special, 60, KSPROPERTY_TYPE_SET, longs({0x10, 0}));
    request(special, 60, KSPROPERTY_TYPE_GET, {});
    request(special, 44, KSPROPERTY_TYPE_SET, longs({0, 0, 0, 1360, 1024, 0}));
    seeds.push_back({"region-register-packets", special.data()});
    return seeds;
}

}  // namespace bayercam::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bayercam::fuzz;
    static Run run;
    FuzzInput in(data, size);
    for (std::size_t i = 0; i < kRequestsPerInput && !in.empty(); ++i) {
        sendRequest(run.open.rig.client(), run.open.rig.filter(), in);
    }
    expectSoundRegion(run.open.rig.camera(), "after the property requests");
    run.baseline.expectClean("after the property requests");
    return 0;
}
