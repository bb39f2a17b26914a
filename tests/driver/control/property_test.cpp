// The camera property set through the class driver: verbs and sizes, limits, the region,
// register and raw packet access, the camera byte and re-initialisation.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "driver/control/sensor.h"
#include "driver/usb/frame_transfer.h"
#include "tests/driver/control/property_client.h"

namespace bayercam::testing {
namespace {

TEST_F(PropertyTest, MissingVerbsAndShortBuffersAreRefused) {
    open();
    PropertyBuffer data{};
    EXPECT_EQ(send(44, KSPROPERTY_TYPE_GET, data, 48), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(send(4, KSPROPERTY_TYPE_SET, data, 32), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(send(69, KSPROPERTY_TYPE_GET, data, 32), STATUS_NOT_FOUND);
    // One id of each layout: a plain value, the region, a raw packet, the camera byte.
    const std::pair<ULONG, ULONG> requests[] = {{0, KSPROPERTY_TYPE_GET},
                                                {44, KSPROPERTY_TYPE_SET},
                                                {59, KSPROPERTY_TYPE_SET},
                                                {60, KSPROPERTY_TYPE_GET}};
    for (auto [id, verb] : requests) {
        const ULONG size = PropertySize(id);
        data.fill(0);
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

TEST_F(PropertyTest, RangedSettingsAreLimitedNeverRefused) {
    open();
    struct Case {
        ULONG id;
        LONG in;
        LONG stored;
    };
    const Case cases[] = {
        {20, 600, 510},  {20, -5, 0},     {20, 300, 300}, {24, 21, 20},   {24, -1, 0},
        {28, 99, 20},    {28, 7, 7},      {32, 360, 359}, {32, -90, 0},   {14, 0, 1},
        {14, 1000, 512}, {15, -3, 1},     {15, 200, 200}, {16, 513, 512}, {2, 0, 3},
        {2, 5000, 1070}, {2, 1070, 1070}, {2, 100, 100},  {2, -1, 1070},  {6, 2000, 1023},
        {6, 5, 5},       {10, 7, 7},      {11, -3, -3},   {12, 5, 5},     {48, 0, 0},
        {13, 0, 0},      {63, 77, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(set(c.id, c.in), STATUS_SUCCESS) << "property " << c.id << " = " << c.in;
        EXPECT_EQ(read(c.id), c.stored) << "property " << c.id << " set to " << c.in;
    }
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

TEST_F(PropertyTest, RegionIsBroughtIntoTheFrameWithoutOverflow) {
    open();
    struct Case {
        LONG x, y, w, h;
        LONG outX, outY, outW, outH, outputWidth;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 0, 0, 1360, 1024, 1360},
        {7, 3, 100, 100, 8, 4, 100, 100, 96},
        {1353, 0, 100, 50, 1352, 0, 8, 50, 8},
        {0, 1000, 1360, 100, 0, 1000, 1360, 24, 1360},
        {-5, -5, 5000, 5000, 0, 0, 1360, 1024, 1360},
        {0, 0, 5, 10, 0, 0, 5, 10, 0},
        {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 1352, 1016, 8, 8, 8},
        {-0x7FFFFFFF - 1, -1, 0, -5, 0, 0, 1360, 1024, 1360},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(setRegion(c.x, c.y, c.w, c.h), STATUS_SUCCESS);
        const CameraDevice* d = device();
        EXPECT_EQ((std::array<LONG, 6>{d->roiX, d->roiY, d->roiW, d->roiH, d->outputWidth,
                                       d->outputHeight}),
                  (std::array<LONG, 6>{c.outX, c.outY, c.outW, c.outH, c.outputWidth, c.outH}))
            << "region " << c.x << ", " << c.y << ", " << c.w << " x " << c.h;
    }
    EXPECT_EQ(read(37), 0) << "the sub-sampling mode is ignored";
}

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
    observed->refuseCommands([](std::span<const std::uint8_t> p) { return p[0] == 0x04; });
    EXPECT_EQ(set(57, 101, 1), STATUS_UNSUCCESSFUL) << "a refused write fails the request";
    ASSERT_EQ(set(58, 101), STATUS_SUCCESS);
    EXPECT_EQ(read(58), 0) << "and leaves the shadow alone";
}

TEST_F(PropertyTest, RawPacketSendsAtMost63PayloadBytes) {
    open();
    PropertyBuffer data{};
    for (int i = 0; i < 64; ++i) data[32 + i] = static_cast<std::uint8_t>(i + 1);
    Packet whole(64);
    whole[0] = 0x40;
    for (int i = 1; i < 64; ++i) whole[i] = static_cast<std::uint8_t>(i);
    for (LONG count : {100, 0, -1}) {
        std::memcpy(data.data() + 28, &count, sizeof(count));
        forget();
        ASSERT_EQ(send(59, KSPROPERTY_TYPE_SET, data, 96), STATUS_SUCCESS);
        EXPECT_EQ(commands(), std::vector<Packet>{count > 0 ? whole : MakePacket({0x40})})
            << "count " << count;
    }
    EXPECT_EQ(send(59, KSPROPERTY_TYPE_GET, data, 96), STATUS_UNSUCCESSFUL);
}

TEST_F(PropertyTest, CameraByteComesFromCameraMemory) {
    open();
    camera->setMemory(0x1234, 0xA5);
    PropertyBuffer data{};
    const LONG address = 0x51234;
    std::memcpy(data.data() + 24, &address, sizeof(address));
    ASSERT_EQ(send(60, KSPROPERTY_TYPE_SET, data, 96), STATUS_SUCCESS);
    forget();
    data.fill(0);
    data[32] = 0x77;
    ASSERT_EQ(send(60, KSPROPERTY_TYPE_GET, data, 96), STATUS_SUCCESS);
    EXPECT_EQ(data[32], 0xA5);
    EXPECT_EQ(commands(), std::vector<Packet>{MakePacket({0x41, 0x51, 0x02, 0x01, 0x12, 0x34})})
        << "bits 0 to 15 of the address";

    camera->faults().failReply = true;
    data[32] = 0x77;
    ASSERT_EQ(send(60, KSPROPERTY_TYPE_GET, data, 96), STATUS_SUCCESS);
    EXPECT_EQ(data[32], 0x77) << "a failed exchange leaves the byte alone";
}

TEST_F(PropertyTest, ReinitialiseAfterTwoSensorStartUpsReloadsWithoutReprogramming) {
    open();
    InitSensor(device());
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

}  // namespace
}  // namespace bayercam::testing
