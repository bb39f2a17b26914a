#include "tests/hardening/stress_activities.h"

#include <cstring>
#include <sstream>

#include "driver/control/camera_properties.h"
#include "driver/usb/frame_transfer.h"
#include "sim/camera_protocol.h"
#include "tests/chaos/chaos_rng.h"
#include "tests/driver/control/property_client.h"

namespace bayercam::testing {
namespace {

using Random = chaos::ChaosRng;

// The property set as the driver's table offers it.
bool Readable(ULONG id) { return CameraPropertySet.PropertyItem[id].GetPropertyHandler != nullptr; }
bool Writable(ULONG id) { return CameraPropertySet.PropertyItem[id].SetPropertyHandler != nullptr; }

// Properties whose values are not plain numbers: each has its own draw below, or (the register
// read-back) answers with what the camera holds rather than what was set.
bool Special(ULONG id) {
    switch (CameraProperty(id)) {
        case CameraProperty::ExTrigger:
        case CameraProperty::Timeout:
        case CameraProperty::Roi:
        case CameraProperty::RegisterWrite:
        case CameraProperty::RegisterRead:
        case CameraProperty::RawPacket:
        case CameraProperty::CameraByte:
        case CameraProperty::Reinitialize:
            return true;
        default:
            return false;
    }
}

bool HandlerAnswer(NTSTATUS status) {
    return status == STATUS_SUCCESS || status == STATUS_UNSUCCESSFUL;
}

std::string Describe(const char* what, ULONG id, NTSTATUS status) {
    std::ostringstream text;
    text << what << " of property " << id << " gave status 0x" << std::hex << ULONG(status);
    return text.str();
}

NTSTATUS SendRegion(host::ks::KsClient& client, host::ks::KsFilterHandle filter, Random& random) {
    CameraRoiValue region{};
    region.x = LONG(random.between(-8, SENSOR_WIDTH));
    region.y = LONG(random.between(-8, SENSOR_HEIGHT));
    region.width = LONG(random.between(-8, SENSOR_WIDTH + 8));
    region.height = LONG(random.between(-8, SENSOR_HEIGHT + 8));
    PropertyBuffer data{};
    std::memcpy(data.data(), &region, sizeof(region));
    return SendCameraProperty(client, filter, ULONG(CameraProperty::Roi), KSPROPERTY_TYPE_SET, data,
                              sizeof(region));
}

// Packets the camera takes without touching the frame protocol: a client's raw packet that
// asked for frames would fight the grabber by design, not by fault.
NTSTATUS SendPacket(host::ks::KsClient& client, host::ks::KsFilterHandle filter, Random& random) {
    static constexpr std::uint8_t kHarmless[] = {std::uint8_t(sim::CommandCode::Prepare),
                                                 std::uint8_t(sim::CommandCode::RawPacket), 0x7F};
    CameraPacketValue packet{};
    packet.count = LONG(random.between(-1, 70));
    packet.address = LONG(random.between(0, 0xFFFF));
    for (UCHAR& byte : packet.payload) byte = UCHAR(random.next());
    packet.payload[0] = kHarmless[random.below(std::size(kHarmless))];
    const bool raw = random.chance(50);
    PropertyBuffer data{};
    std::memcpy(data.data(), &packet, sizeof(packet));
    return SendCameraProperty(
        client, filter, ULONG(raw ? CameraProperty::RawPacket : CameraProperty::CameraByte),
        raw ? KSPROPERTY_TYPE_SET : KSPROPERTY_TYPE_GET, data, sizeof(packet));
}

// One change of a random writable property. Trigger mode and reinitialisation stop frames for
// a while, so they come up rarely; trigger mode is mostly switched off.
void ChangeOneProperty(host::ks::KsClient& client, host::ks::KsFilterHandle filter, Random& random,
                       ActivityLog& log) {
    const std::uint64_t pick = random.below(100);
    NTSTATUS status;
    ULONG id;
    if (pick < 3) {
        id = ULONG(CameraProperty::ExTrigger);
        status = SetCameraProperty(client, filter, id, random.chance(25) ? 1 : 0);
    } else if (pick < 4) {
        id = ULONG(CameraProperty::Reinitialize);
        status = SetCameraProperty(client, filter, id, 1);
    } else if (pick < 8) {
        id = ULONG(CameraProperty::Roi);
        status = SendRegion(client, filter, random);
    } else if (pick < 12) {
        id = ULONG(CameraProperty::RegisterWrite);
        status = SetCameraProperty(client, filter, id, LONG(random.between(0, 420)),
                                   LONG(random.between(0, 0x3FFFFF)));
    } else if (pick < 18) {
        id = ULONG(CameraProperty::RawPacket);
        status = SendPacket(client, filter, random);
    } else if (pick < 22) {
        id = ULONG(CameraProperty::Timeout);  // bounded, so that a run in trigger mode recovers
        status = SetCameraProperty(client, filter, id, LONG(random.between(400, 2100)));
    } else {
        do {
            id = ULONG(random.below(CAMERA_PROPERTY_COUNT));
        } while (!Writable(id) || Special(id));
        // Flags and choices, or levels: a little beyond every range on both sides.
        status = SetCameraProperty(
            client, filter, id,
            LONG(random.between(random.chance(50) ? -2 : -10, random.chance(50) ? 4 : 1100)));
    }
    ++log.requests;
    if (!HandlerAnswer(status)) log.problem(Describe("a set", id, status));
}

void ReadEveryProperty(host::ks::KsClient& client, host::ks::KsFilterHandle filter,
                       ActivityLog& log) {
    for (ULONG id = 0; id < CAMERA_PROPERTY_COUNT; ++id) {
        if (!Readable(id) || id == ULONG(CameraProperty::RegisterWrite) ||
            id == ULONG(CameraProperty::RawPacket) || id == ULONG(CameraProperty::CameraByte)) {
            continue;
        }
        LONG value = 0;
        NTSTATUS status = GetCameraProperty(client, filter, id, &value);
        ++log.requests;
        if (status != STATUS_SUCCESS) {
            log.problem(Describe("a get", id, status));
        }
    }
}

// A second pin on a second filter while the first one streams: it may exist, but it must not
// take the camera, and closing it must leave the region locked for the first.
void SecondPinRound(host::ks::KsClient& client, host::ks::KsFilterHandle filter,
                    const KS_DATARANGE_VIDEO& range, ActivityLog& log) {
    KS_DATAFORMAT_VIDEOINFOHEADER format{};
    ULONG returned = 0;
    if (client.intersect(filter, 0, &range.DataRange, &format, sizeof(format), &returned) !=
        STATUS_SUCCESS) {
        return;
    }
    host::ks::KsPinHandle pin = nullptr;
    if (client.createPin(filter, 0, &format.DataFormat, &pin) != STATUS_SUCCESS) return;
    ++log.secondPins;
    NTSTATUS acquire = client.setPinState(pin, KSSTATE_ACQUIRE);
    if (acquire == STATUS_SUCCESS) log.problem("a second pin took the busy camera");
    client.setPinState(pin, KSSTATE_STOP);
    client.closePin(pin);
    LONG locked = 0;
    if (GetCameraProperty(client, filter, ULONG(CameraProperty::RoiLocked), &locked) ==
            STATUS_SUCCESS &&
        locked == 0) {
        log.problem("closing a second pin unlocked the region of the streaming one");
    }
}

}  // namespace

void ActivityLog::problem(std::string text) {
    std::lock_guard guard(lock_);
    if (problems_.size() < 20) problems_.push_back(std::move(text));
}

std::vector<std::string> ActivityLog::problems() const {
    std::lock_guard guard(lock_);
    return problems_;
}

void AddPropertyChurn(ActivityThreads& threads, host::ks::KsClient& client,
                      host::ks::KsFilterHandle filter, std::uint64_t seed, int setters,
                      ActivityLog& log) {
    for (int t = 0; t < setters; ++t) {
        threads.add(seed + t, [&client, filter, &log](Random& random, std::uint64_t) {
            ChangeOneProperty(client, filter, random, log);
        });
    }
    threads.add(seed + setters, [&client, filter, &log](Random&, std::uint64_t) {
        ReadEveryProperty(client, filter, log);
    });
}

void AddFilterChurn(ActivityThreads& threads, host::ks::KsClient& client,
                    host::ks::KsDeviceHandle device, const KS_DATARANGE_VIDEO& range,
                    std::uint64_t seed, int count, ActivityLog& log) {
    for (int t = 0; t < count; ++t) {
        threads.add(seed + t, [&client, device, range, &log](Random& random, std::uint64_t) {
            host::ks::KsFilterHandle filter = nullptr;
            NTSTATUS status = client.openFilter(device, L"GLOBAL", &filter);
            ++log.requests;
            if (status != STATUS_SUCCESS) {
                log.problem(Describe("opening a filter", 0, status));
                return;
            }
            LONG value = 0;
            GetCameraProperty(client, filter, ULONG(CameraProperty::Exposure), &value);
            if (random.chance(50)) SecondPinRound(client, filter, range, log);
            client.closeFilter(filter);
        });
    }
}

void AddWhiteBalanceSwitching(ActivityThreads& threads, host::ks::KsClient& client,
                              host::ks::KsFilterHandle filter, std::uint64_t seed,
                              ActivityLog& log) {
    threads.add(seed, [&client, filter, &log](Random& random, std::uint64_t round) {
        const bool on = round % 2 == 0;
        NTSTATUS status =
            SetCameraProperty(client, filter, ULONG(CameraProperty::WhiteBalance), on ? 1 : 0);
        if (status != STATUS_SUCCESS) log.problem(Describe("white balance", 13, status));
        if (!on) {
            for (CameraProperty gain : {CameraProperty::RedGain, CameraProperty::BlueGain}) {
                SetCameraProperty(client, filter, ULONG(gain), 128);
            }
        }
        ++log.requests;
        std::this_thread::sleep_for(std::chrono::microseconds(random.below(20000)));
    });
}

void AddTimeoutWobble(ActivityThreads& threads, std::uint64_t seed, LONG lowMs, LONG highMs) {
    threads.add(seed, [lowMs, highMs](Random& random, std::uint64_t) {
        InterlockedExchange(&transferTimeoutMs, LONG(random.between(lowMs, highMs)));
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random.below(200)));
    });
}

}  // namespace bayercam::testing
