#include "tests/hardening/stress_activities.h"

#include <cstring>
#include <sstream>

#include "driver/control/camera_properties.h"
#include "driver/usb/frame_transfer.h"
#include "sim/camera_protocol.h"
#include "tests/driver/control/property_client.h"

namespace bayercam::testing {
namespace {

using Random = std::mt19937_64;

// A property that takes a value, and the values drawn for it: a little beyond its range on
// both sides, so that the handlers' limits are crossed too.
struct Writable {
    ULONG id;
    LONG low;
    LONG high;
};
constexpr Writable kWritable[] = {
    {1, 400, 2100},  // Timeout: bounded, so a run in trigger mode recovers in time
    {2, -5, 1100},  {6, -5, 1100},  {10, 0, 1},     {11, 0, 1},     {12, 0, 1},   {13, 0, 1},
    {14, -10, 600}, {15, -10, 600}, {16, -10, 600}, {20, -10, 520}, {24, -5, 25}, {28, -5, 25},
    {32, -10, 370}, {47, 0, 10},    {48, -2, 4},    {49, 0, 3},     {55, 0, 1},   {56, 0, 1},
    {58, -1, 600},  {63, 0, 10},    {64, 0, 10},    {65, 0, 10},    {66, 0, 10},
};
// Read back by ReadWritableProperties, white balance first so that the gains written after it
// stay.
constexpr ULONG kRestorable[] = {13, 0, 1, 2, 6, 10, 11, 12, 14, 15, 16, 20, 24, 28, 32, 48};
constexpr ULONG kReadable[] = {0,  1,  2,  3,  5,  6,  7,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                               20, 24, 28, 32, 36, 38, 40, 42, 43, 45, 48, 55, 56, 58, 61, 68};

LONG Between(Random& random, LONG low, LONG high) {
    return low + LONG(random() % std::uint64_t(high - low + 1));
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
    region.x = Between(random, -8, SENSOR_WIDTH);
    region.y = Between(random, -8, SENSOR_HEIGHT);
    region.width = Between(random, -8, SENSOR_WIDTH + 8);
    region.height = Between(random, -8, SENSOR_HEIGHT + 8);
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
    packet.count = Between(random, -1, 70);
    packet.address = Between(random, 0, 0xFFFF);
    for (UCHAR& byte : packet.payload) byte = UCHAR(random());
    packet.payload[0] = kHarmless[random() % std::size(kHarmless)];
    const bool raw = random() % 2 == 0;
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
    const std::uint64_t pick = random() % 100;
    NTSTATUS status;
    ULONG id;
    if (pick < 3) {
        id = ULONG(CameraProperty::ExTrigger);
        status = SetCameraProperty(client, filter, id, random() % 4 == 0 ? 1 : 0);
    } else if (pick < 4) {
        id = ULONG(CameraProperty::Reinitialize);
        status = SetCameraProperty(client, filter, id, 1);
    } else if (pick < 8) {
        id = ULONG(CameraProperty::Roi);
        status = SendRegion(client, filter, random);
    } else if (pick < 12) {
        id = ULONG(CameraProperty::RegisterWrite);
        status = SetCameraProperty(client, filter, id, Between(random, 0, 420),
                                   Between(random, 0, 0x3FFFFF));
    } else if (pick < 18) {
        id = ULONG(CameraProperty::RawPacket);
        status = SendPacket(client, filter, random);
    } else {
        const Writable& property = kWritable[random() % std::size(kWritable)];
        id = property.id;
        status =
            SetCameraProperty(client, filter, id, Between(random, property.low, property.high));
    }
    ++log.requests;
    if (!HandlerAnswer(status)) log.problem(Describe("a set", id, status));
}

void ReadEveryProperty(host::ks::KsClient& client, host::ks::KsFilterHandle filter,
                       ActivityLog& log) {
    for (ULONG id : kReadable) {
        LONG value = 0;
        NTSTATUS status = GetCameraProperty(client, filter, id, &value);
        ++log.requests;
        if (status != STATUS_SUCCESS) {
            log.problem(Describe("a get", id, status));
        }
    }
}

KSSTATE RandomState(Random& random) {
    static constexpr KSSTATE kStates[] = {KSSTATE_STOP, KSSTATE_ACQUIRE, KSSTATE_PAUSE,
                                          KSSTATE_RUN};
    return kStates[random() % std::size(kStates)];
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

PropertyValues ReadWritableProperties(host::ks::KsClient& client, host::ks::KsFilterHandle filter) {
    PropertyValues values;
    for (ULONG id : kRestorable) {
        LONG value = 0;
        EXPECT_EQ(GetCameraProperty(client, filter, id, &value), STATUS_SUCCESS)
            << "property " << id;
        values[id] = value;
    }
    return values;
}

void RestoreProperties(host::ks::KsClient& client, host::ks::KsFilterHandle filter,
                       const PropertyValues& values) {
    for (ULONG id : kRestorable) {
        EXPECT_EQ(SetCameraProperty(client, filter, id, values.at(id)), STATUS_SUCCESS)
            << "property " << id;
    }
    for (ULONG id : kRestorable) {
        LONG value = 0;
        EXPECT_EQ(GetCameraProperty(client, filter, id, &value), STATUS_SUCCESS);
        EXPECT_EQ(value, values.at(id)) << "property " << id << " restored";
    }
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

void AddStateWalk(ActivityThreads& threads, host::ks::KsClient& client, host::ks::KsPinHandle pin,
                  std::uint64_t seed, ActivityLog& log) {
    threads.add(seed, [&client, pin, &log](Random& random, std::uint64_t) {
        const KSSTATE target = RandomState(random);
        NTSTATUS status = client.setPinState(pin, target);
        ++log.requests;
        if (status != STATUS_SUCCESS) {
            log.problem(Describe("a state change", ULONG(target), status));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
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
            if (random() % 2 == 0) SecondPinRound(client, filter, range, log);
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
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    });
}

void AddTimeoutWobble(ActivityThreads& threads, std::uint64_t seed, LONG lowMs, LONG highMs) {
    threads.add(seed, [lowMs, highMs](Random& random, std::uint64_t) {
        InterlockedExchange(&transferTimeoutMs, Between(random, lowMs, highMs));
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 200));
    });
}

}  // namespace bayercam::testing
