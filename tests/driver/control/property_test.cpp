// The camera property set through the class driver: verbs and sizes of all 69 ids, constants,
// limits, the region, register and raw packet access, the camera byte and re-initialisation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/control/region_of_interest.h"
#include "driver/control/sensor.h"
#include "driver/usb/frame_transfer.h"
#include "tests/driver/control/property_client.h"

namespace bayercam::testing {
namespace {

// Verbs per id: b get and set, g get only, s set only.
const std::string VERBS = std::string("bbb") + "ggg" + "b" + "ggg" + "bbbbbbb" + "ggg" + "b" +
                          "ggg" + "b" + "ggg" + "b" + "ggg" + "b" + "ggggggggggg" + "s" + "gg" +
                          "s" + "bb" + "ggggg" + "bbbbbb" + "gg" + "bbbb" + "s" + "g";

// ---------------------------------------------------------------- verbs and sizes

TEST_F(PropertyTest, EveryIdOffersExactlyItsVerbs) {
    ASSERT_EQ(VERBS.size(), 69u);
    open();
    for (ULONG id = 0; id < 69; ++id) {
        const char verbs = VERBS[id];
        PropertyBuffer data{};
        NTSTATUS got = send(id, KSPROPERTY_TYPE_GET, data, PropertySize(id));
        if (verbs == 's') {
            EXPECT_EQ(got, STATUS_INVALID_DEVICE_REQUEST) << "get of set-only id " << id;
        } else {
            EXPECT_NE(got, STATUS_INVALID_DEVICE_REQUEST) << "get of id " << id;
        }
        LONG current;
        std::memcpy(&current, data.data() + 24, sizeof(current));
        data.fill(0);
        if (verbs != 's') std::memcpy(data.data() + 24, &current, sizeof(current));
        got = send(id, KSPROPERTY_TYPE_SET, data, PropertySize(id));
        if (verbs == 'g') {
            EXPECT_EQ(got, STATUS_INVALID_DEVICE_REQUEST) << "set of get-only id " << id;
        } else {
            EXPECT_EQ(got, STATUS_SUCCESS) << "set of id " << id << " to its own value";
        }
    }
    PropertyBuffer beyond{};
    EXPECT_EQ(send(69, KSPROPERTY_TYPE_GET, beyond, 32), STATUS_NOT_FOUND);
}

TEST_F(PropertyTest, MinimumSizesOfRequestAndData) {
    open();
    for (ULONG id = 0; id < 69; ++id) {
        const ULONG size = PropertySize(id);
        const ULONG verb = VERBS[id] == 's' ? KSPROPERTY_TYPE_SET : KSPROPERTY_TYPE_GET;
        PropertyBuffer data{};
        KSPROPERTY header{};
        header.Set = CameraPropertySetId;
        header.Id = id;
        header.Flags = verb;
        std::memcpy(data.data(), &header, sizeof(header));
        ULONG returned = 0;
        EXPECT_EQ(client->property(filter, data.data(), size - 1, data.data(), size, &returned),
                  STATUS_INVALID_BUFFER_SIZE)
            << "request one byte short, id " << id;
        EXPECT_EQ(client->property(filter, data.data(), size, data.data(), size - 1, &returned),
                  STATUS_BUFFER_TOO_SMALL)
            << "data one byte short, id " << id;
        EXPECT_EQ(client->property(filter, data.data(), size, nullptr, 0, &returned),
                  STATUS_BUFFER_OVERFLOW)
            << "size query, id " << id;
        EXPECT_EQ(returned, size) << "size query, id " << id;
    }
}

// ---------------------------------------------------------------- constants

TEST_F(PropertyTest, ConstantsOfLimitsDefaultsAndValuelessIds) {
    open();
    const std::pair<ULONG, LONG> constants[] = {
        {3, 3},    {4, 1070}, {5, 3},    {7, 0},    {8, 1023}, {9, 512}, {17, 1},    {18, 512},
        {19, 128}, {21, 0},   {22, 510}, {23, 255}, {25, 0},   {26, 20}, {27, 10},   {29, 0},
        {30, 20},  {31, 10},  {33, 0},   {34, 359}, {35, 0},   {36, 0},  {38, 1360}, {39, 1024},
        {46, 1},   {50, 0},   {51, 1},   {52, 1},   {53, 0},   {54, 0},  {61, 0},    {62, 0},
        {63, 0},   {64, 0},   {65, 0},   {66, 0},   {68, 0},
    };
    for (auto [id, expected] : constants) EXPECT_EQ(read(id), expected) << "property " << id;
    EXPECT_EQ(set(63, 77), STATUS_SUCCESS);
    EXPECT_EQ(read(63), 0) << "a set of a value-less id has no effect";
}

TEST_F(PropertyTest, FrameGeometryProperties) {
    open();
    EXPECT_EQ(read(37), 0) << "SubSample";
    EXPECT_EQ(read(40), 0);
    EXPECT_EQ(read(41), 0);
    EXPECT_EQ(read(42), 1360);
    EXPECT_EQ(read(43), 1024);
}

// ---------------------------------------------------------------- settings and limits

TEST_F(PropertyTest, RangedSettingsAreLimitedNeverRefused) {
    open();
    struct Case {
        ULONG id;
        LONG in;
        LONG stored;
    };
    const Case cases[] = {
        {20, 600, 510},  {20, -5, 0},   {20, 300, 300}, {24, 21, 20},    {24, -1, 0},
        {28, 99, 20},    {28, 7, 7},    {32, 360, 359}, {32, -90, 0},    {14, 0, 1},
        {14, 1000, 512}, {15, -3, 1},   {15, 200, 200}, {16, 513, 512},  {2, 0, 3},
        {2, 5000, 1070}, {2, 100, 100}, {2, -1, 1070},  {6, 2000, 1023}, {6, 5, 5},
        {10, 7, 7},      {11, -3, -3},  {12, 5, 5},     {48, 0, 0},      {13, 0, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(set(c.id, c.in), STATUS_SUCCESS) << "property " << c.id << " = " << c.in;
        EXPECT_EQ(read(c.id), c.stored) << "property " << c.id << " set to " << c.in;
    }
    EXPECT_EQ(device()->brightness, 300u);
    EXPECT_EQ(GetFlipV(device()), -3);
}

TEST_F(PropertyTest, TimeoutTakesOnly501To9999) {
    open();
    const std::pair<LONG, LONG> cases[] = {
        {500, 3000}, {501, 501}, {10000, 501}, {9999, 9999}, {-1, 9999}, {0, 9999},
    };
    for (auto [in, expected] : cases) {
        EXPECT_EQ(set(1, in), STATUS_SUCCESS);
        EXPECT_EQ(read(1), expected) << "after a set of " << in;
        EXPECT_EQ(transferTimeoutMs, expected) << "after a set of " << in;
    }
}

TEST_F(PropertyTest, ExposureAndGainReachTheSensorRegisters) {
    open();
    ASSERT_EQ(set(2, 100), STATUS_SUCCESS);
    ASSERT_EQ(set(58, 158), STATUS_SUCCESS);
    EXPECT_EQ(read(58), 36) << "register 158 holds exposure 100 & 0x3F";
    ASSERT_EQ(set(6, 2000), STATUS_SUCCESS);
    EXPECT_EQ(camera->registerEntry(6).value, 63u);
    EXPECT_EQ(camera->registerEntry(7).value, 15u);
}

TEST_F(PropertyTest, ExternalTriggerReadsOnlyItsLowByte) {
    open();
    ASSERT_EQ(set(0, 5), STATUS_SUCCESS);
    EXPECT_EQ(read(0), 1);
    EXPECT_TRUE(camera->externalTriggerMode());
    device()->exTrigger = 256;
    EXPECT_EQ(read(0), 0) << "only the low byte counts";
    ASSERT_EQ(set(0, 0), STATUS_SUCCESS);
    EXPECT_FALSE(camera->externalTriggerMode());
}

TEST_F(PropertyTest, ClockAsksTheCameraAndValuelessSetsChangeNothing) {
    open();
    camera->setClockMode(3);
    forget();
    EXPECT_EQ(read(49), 2) << "clock mode 3 is reported as 2";
    ASSERT_FALSE(commands().empty());
    EXPECT_EQ(commands()[0], MakePacket({0x26, 0x0F}));
    EXPECT_EQ(set(49, 9), STATUS_SUCCESS);
    EXPECT_EQ(device()->clock, 2u);
    EXPECT_EQ(set(55, 4), STATUS_SUCCESS);
    EXPECT_EQ(set(56, 4), STATUS_SUCCESS);
    EXPECT_EQ(read(55), 0);
    EXPECT_EQ(read(56), 0);
}

// ---------------------------------------------------------------- region of interest

TEST_F(PropertyTest, RegionIsBroughtIntoTheFrameWithoutOverflow) {
    open();
    ASSERT_EQ(setRegion(7, 3, 100, 100), STATUS_SUCCESS);
    EXPECT_EQ(device()->roiX, 8);
    EXPECT_EQ(device()->roiY, 4);
    EXPECT_EQ(device()->outputWidth, 96);
    ASSERT_EQ(setRegion(0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF), STATUS_SUCCESS);
    EXPECT_EQ(device()->roiX, 1352) << "an odd 2^31 - 1 moves up, then is limited";
    EXPECT_EQ(device()->roiY, 1016);
    EXPECT_EQ(device()->roiW, 8);
    EXPECT_EQ(device()->roiH, 8);
    ASSERT_EQ(setRegion(-0x7FFFFFFF - 1, -1, 0, -5), STATUS_SUCCESS);
    EXPECT_EQ(device()->roiX, 0);
    EXPECT_EQ(device()->roiY, 0);
    EXPECT_EQ(device()->roiW, 1360);
    EXPECT_EQ(device()->roiH, 1024);
    EXPECT_EQ(read(37), 0) << "the sub-sampling mode is ignored";
}

TEST_F(PropertyTest, RegionStaysLockedWhileAnyPinExists) {
    open();
    EXPECT_EQ(read(45), 0);
    SetRoiLocked(device(), 1);
    SetRoiLocked(device(), 1);
    EXPECT_NE(read(45), 0);
    SetRoiLocked(device(), 0);
    EXPECT_NE(read(45), 0) << "one of two pins closed";
    EXPECT_EQ(setRegion(100, 100, 200, 200), STATUS_SUCCESS);
    EXPECT_EQ(device()->roiW, 1360) << "no change while a pin exists";
    SetRoiLocked(device(), 0);
    EXPECT_EQ(read(45), 0);
    SetRoiLocked(device(), 0);
    EXPECT_EQ(read(45), 0) << "the count never goes below zero";
    EXPECT_EQ(setRegion(100, 100, 200, 200), STATUS_SUCCESS);
    EXPECT_EQ(device()->roiW, 200);
}

// ---------------------------------------------------------------- registers and packets

TEST_F(PropertyTest, RegisterWriteAndReadBack) {
    open();
    struct Case {
        ULONG reg;
        LONG value;
        bool sent;  // a register beyond the shadow is not sent: its low bits name another
        LONG readBack;
    };
    const Case cases[] = {
        {100, 0x7F, true, 0x7F}, {1023, 9, true, 9}, {1024, 9, false, 0}, {2000, 9, false, 0}};
    for (const Case& c : cases) {
        forget();
        EXPECT_EQ(set(57, c.reg, c.value), c.sent ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL)
            << "register " << c.reg;
        EXPECT_EQ(commands(), c.sent ? std::vector<Packet>{RegisterPacket(c.reg, c.value)}
                                     : std::vector<Packet>{})
            << "register " << c.reg;
        ASSERT_EQ(set(58, c.reg), STATUS_SUCCESS);
        EXPECT_EQ(read(58), c.readBack) << "register " << c.reg << ": the shadow, unmasked";
    }
    LONG value = 0;
    EXPECT_EQ(get(57, &value), STATUS_UNSUCCESSFUL) << "register write has no get";
    ASSERT_EQ(set(58, 35), STATUS_SUCCESS);
    EXPECT_EQ(read(58), 63) << "written by the sensor start-up";
    observed->refuseCommands([](std::span<const std::uint8_t> p) { return p[0] == 0x04; });
    EXPECT_EQ(set(57, 101, 1), STATUS_UNSUCCESSFUL) << "a refused write fails the request";
}

TEST_F(PropertyTest, RawPacketSendsAtMost63PayloadBytes) {
    open();
    PropertyBuffer data{};
    const LONG count = 100;
    std::memcpy(data.data() + 28, &count, sizeof(count));
    for (int i = 0; i < 64; ++i) data[32 + i] = static_cast<std::uint8_t>(i + 1);
    forget();
    ASSERT_EQ(send(59, KSPROPERTY_TYPE_SET, data, 96), STATUS_SUCCESS);
    Packet expected(64);
    expected[0] = 0x40;
    for (int i = 1; i < 64; ++i) expected[i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(commands().size(), 1u);
    EXPECT_EQ(commands()[0], expected);

    for (LONG none : {0, -1}) {
        std::memcpy(data.data() + 28, &none, sizeof(none));
        forget();
        ASSERT_EQ(send(59, KSPROPERTY_TYPE_SET, data, 96), STATUS_SUCCESS);
        ASSERT_EQ(commands().size(), 1u);
        EXPECT_EQ(commands()[0], MakePacket({0x40})) << "count " << none;
    }
    EXPECT_EQ(send(59, KSPROPERTY_TYPE_GET, data, 96), STATUS_UNSUCCESSFUL);
    observed->refuseCommands([](std::span<const std::uint8_t> p) { return p[0] == 0x40; });
    EXPECT_EQ(send(59, KSPROPERTY_TYPE_SET, data, 96), STATUS_SUCCESS)
        << "a failed send is not reported";
}

TEST_F(PropertyTest, CameraByteComesFromCameraMemory) {
    open();
    camera->setMemory(0x1234, 0xA5);
    PropertyBuffer data{};
    const LONG address = 0x51234;
    std::memcpy(data.data() + 24, &address, sizeof(address));
    ASSERT_EQ(send(60, KSPROPERTY_TYPE_SET, data, 96), STATUS_SUCCESS);
    EXPECT_EQ(device()->memoryReadAddress, 0x51234u);
    forget();
    data.fill(0);
    data[32] = 0x77;
    ASSERT_EQ(send(60, KSPROPERTY_TYPE_GET, data, 96), STATUS_SUCCESS);
    EXPECT_EQ(data[32], 0xA5);
    ASSERT_EQ(commands().size(), 1u);
    EXPECT_EQ(commands()[0], MakePacket({0x41, 0x51, 0x02, 0x01, 0x12, 0x34}))
        << "bits 0 to 15 of the address";

    camera->faults().failReply = true;
    data[32] = 0x77;
    ASSERT_EQ(send(60, KSPROPERTY_TYPE_GET, data, 96), STATUS_SUCCESS);
    EXPECT_EQ(data[32], 0x77) << "a failed exchange leaves the byte alone";
}

// ---------------------------------------------------------------- re-initialisation

TEST_F(PropertyTest, ReinitialiseAfterTwoSensorStartUpsReloadsWithoutReprogramming) {
    open();
    InitSensor(device());
    ASSERT_EQ(device()->sensorInitCount, 2);
    ASSERT_EQ(set(24, 3), STATUS_SUCCESS);
    storeSetting(L"Contrast", 17);
    forget();
    ASSERT_EQ(set(67, 0), STATUS_SUCCESS);
    const std::vector<Packet> sent = commands();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], MakePacket({0x06})) << "Prepare first";
    for (const Packet& packet : sent) {
        EXPECT_NE(packet, RegisterPacket(35, 63)) << "the start-up tables are not sent again";
    }
    EXPECT_EQ(read(24), 17) << "the stored contrast replaces the unsaved one";
}

// ---------------------------------------------------------------- handler guards

TEST_F(PropertyTest, HandlersRefuseMissingRequestDataOrDevice) {
    KSPROPERTY request{};
    request.Set = CameraPropertySetId;
    request.Id = 22;
    request.Flags = KSPROPERTY_TYPE_GET;
    CameraPropertyValue value{};
    EXPECT_EQ(HandleConstantProperty(nullptr, &request, nullptr), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(HandleConstantProperty(nullptr, &request, &value), STATUS_SUCCESS)
        << "constants need no device";
    EXPECT_EQ(value.value, 510);
    request.Id = 20;
    EXPECT_EQ(HandleAdjustmentProperty(nullptr, &request, &value), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(HandleCameraProperty(nullptr, &request, &value), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(HandleRoiProperty(nullptr, &request, &value), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(HandleRegisterProperty(nullptr, &request, &value), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(HandlePacketProperty(nullptr, &request, &value), STATUS_UNSUCCESSFUL);
}

}  // namespace
}  // namespace bayercam::testing
